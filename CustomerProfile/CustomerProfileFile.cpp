#include "CustomerProfile/CustomerProfileFile.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "pages/QueryFileXml.h"

#include "host/forms/Forms.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;

namespace {
// A row's text as the file keeps it: numbers (a profiled average) with "."
// whatever the analyst's locale, so that the file reads the same anywhere.
std::string Item(const Collection& row, const char* key) {
    if (!row.Contains(key)) return "";
    const Variant& v = row.Item(key);
    return v.IsNumber() ? platform::FormatCNumber(v.ToDouble()) : v.ToString();
}

bool Refuse(int textId) {
    forms::MsgBox(FindString(textId), forms::vbOKOnly, "");
    return false;
}

// Text 120 is also the caption of the populate page's check box: the
// message names that option as the analyst knows it.
bool RefuseClearOption() {
    forms::MsgBox(FindString(128) + ": " + MakeToolTip(FindString(120)), forms::vbOKOnly, "");
    return false;
}

// The variance as the populate page can offer it: a number from 0 to 100,
// made whole with halves going to the even neighbour.
std::optional<int16_t> ReadVariance(const std::string& value) {
    std::string t = Trim(value);
    double v = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !(v >= 0 && v <= 100)) return std::nullopt;
    return static_cast<int16_t>(std::nearbyint(v));
}

}  // namespace

void SaveCPFFile(const CustomerProfileState& state, const std::string& path, const std::string& subTaskType) {
    pugi::xml_document doc;
    auto root = BeginQueryFile(doc, "CPCPFFILE");
    auto common = root.append_child("COMMONPROPERTIES");
    auto prop = [&](const char* name, const std::string& value) { AddNameValue(common, "COMMONPROPERTY", name, value); };
    static const char* manners[] = {"Ceiling", "Floor", "FloorAndCeiling"};
    prop("CPSubTaskType", subTaskType);
    prop("header1", state.header1);
    prop("header2", state.header2);
    prop("header3", state.header3);
    prop("Selected", state.selected ? "True" : "False");
    prop("Populate manner", manners[state.manner >= 0 && state.manner <= 2 ? state.manner : 2]);
    prop("Variance", std::to_string(state.variance));
    prop("Clear unaffected values", state.clearBefore ? "True" : "False");
    auto cats = root.append_child("CATEGORIES");
    pugi::xml_node targets;
    for (long i = 1; i <= state.rows->Count(); ++i) {
        auto row = state.rows->Item(i).As<Collection>();
        if (Item(*row, "First") == "True" || !targets) {
            auto c = cats.append_child("CATEGORY");
            c.append_attribute("id") = Item(*row, "0").c_str();
            c.append_attribute("Caption") = Item(*row, "Cat.caption").c_str();
            targets = c.append_child("TARGETS");
        }
        auto t = targets.append_child("TARGET");
        t.append_attribute("id") = Item(*row, "1").c_str();
        t.append_attribute("Caption") = Item(*row, "Target.caption").c_str();
        auto props = t.append_child("PROPERTIES");
        for (auto [name, key] : {std::pair{"Extracted", "3"}, {"Checked", "2"}, {"Value", "Value"}, {"Chance", "Chance"}}) {
            AddNameValue(props, "PROPERTY", name, Item(*row, key));
        }
    }
    SaveQueryFile(doc, path, "profile file");
}

bool LoadCPFFile(CustomerProfileState& state, const std::string& path, const std::string& subTaskType) {
    pugi::xml_document doc;
    if (path.empty() || !doc.load_file(path.c_str())) return false;
    auto root = FirstChildElement(doc, "CPCPFFILE");
    if (!root) return Refuse(116);
    auto common = FirstChildElement(root, "COMMONPROPERTIES");
    if (!common) return Refuse(117);
    for (auto p : common.children()) {
        if (p.type() != pugi::node_element) continue;
        std::string name = p.attribute("name").as_string(), value = p.attribute("value").as_string();
        if (name == "CPSubTaskType") {
            if (value != subTaskType) return false;
        } else if (name == "header1") {
            state.header1 = value;
        } else if (name == "header2") {
            state.header2 = value;
        } else if (name == "header3") {
            state.header3 = value;
        } else if (name == "Selected") {
            if (value != "True" && value != "False") return Refuse(118);
            state.selected = value == "True";
        } else if (name == "Populate manner") {
            if (value == "Ceiling") state.manner = 0;
            else if (value == "Floor") state.manner = 1;
            else if (value == "FloorAndCeiling") state.manner = 2;
            else return Refuse(119);
        } else if (name == "Variance") {
            // A variance that is no number is left out: the one already
            // offered stays, and the rest of the file is read.
            if (auto v = ReadVariance(value)) state.variance = *v;
            else forms::MsgBox(FindString(155), forms::vbExclamation, "");
        } else if (name == "Clear unaffected values") {
            if (value != "True" && value != "False") return RefuseClearOption();
            state.clearBefore = value == "True";
        } else {
            return Refuse(121);
        }
    }
    auto cats = FirstChildElement(root, "CATEGORIES");
    if (!cats) return false;
    auto rows = std::make_shared<Collection>();
    for (auto c : cats.children()) {
        if (c.type() != pugi::node_element || std::string(c.name()) != "CATEGORY") continue;
        auto targets = FirstChildElement(c, "TARGETS");
        if (!targets) return false;
        bool first = true;
        for (auto t : targets.children()) {
            if (t.type() != pugi::node_element || std::string(t.name()) != "TARGET") continue;
            auto row = std::make_shared<Collection>();
            row->Add(first ? "True" : "False", "First");
            if (first) row->Add(std::string(c.attribute("Caption").as_string()), "Cat.caption");
            row->Add(std::string(t.attribute("Caption").as_string()), "Target.caption");
            row->Add(std::string(c.attribute("id").as_string()), "0");
            row->Add(std::string(t.attribute("id").as_string()), "1");
            first = false;
            auto props = FirstChildElement(t, "PROPERTIES");
            if (!props) return Refuse(122);
            for (auto p : props.children()) {
                if (p.type() != pugi::node_element) continue;
                std::string n = p.attribute("name").as_string();
                const char* key = n == "Extracted" ? "3" : n == "Checked" ? "2" : n == "Value" ? "Value" : n == "Chance" ? "Chance" : nullptr;
                if (!key) continue;
                if (row->Contains(key)) row->Remove(key);
                row->Add(std::string(p.attribute("value").as_string()), key);
            }
            rows->Add(row, std::to_string(rows->Count()));
        }
    }
    if (rows->Count() != state.rows->Count()) return false;
    state.rows = rows;
    return true;
}

}  // namespace pxcp
