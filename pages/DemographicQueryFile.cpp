#include "pages/DemographicQueryFile.h"

#include "pages/QueryFileXml.h"

#include "PXCP/PXAnalysisUtils.h"
#include "host/forms/Forms.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;

void SaveDMQFile(const DemographicQuery& query, const std::string& path, const std::string& datasetName) {
    pugi::xml_document doc;
    auto root = BeginQueryFile(doc, "CPDMQFILE");
    auto common = root.append_child("COMMONPROPERTIES");
    auto prop = [&](const char* name, const std::string& value) { AddNameValue(common, "COMMONPROPERTY", name, value); };
    prop("StudyAreaDataset", datasetName);
    prop("Year", std::to_string(query.yearNumber));
    prop("NumbersOption", query.isNumbers ? "True" : "False");
    prop("AllCharacteristics", query.isAllCharacteristics ? "True" : "False");
    auto cats = root.append_child("CATEGORIES");
    for (auto& rec : query.categoryRecords) {
        auto c = cats.append_child("CATEGORY");
        c.append_attribute("id") = rec->Item("Category ID").ToString().c_str();
        auto targets = c.append_child("TARGETS");
        for (long j = 0; j < DemographicQuery::TargetCount(*rec); ++j) {
            auto t = targets.append_child("TARGET");
            t.append_attribute("id") = DemographicQuery::Get(*rec, "Target", j).c_str();
            auto props = t.append_child("PROPERTIES");
            for (const char* key : {"Floor", "Ceiling"}) {
                AddNameValue(props, "PROPERTY", key, DemographicQuery::Get(*rec, key, j));
            }
        }
    }
    SaveQueryFile(doc, path, "query file");
}

namespace {
DmqLoad Stop(int textId) {
    forms::MsgBox(FindString(textId), forms::vbOKOnly, "");
    return DmqLoad::Stopped;
}

}  // namespace

DmqLoad LoadDMQFile(DemographicQuery& query, const std::string& path, const std::string& datasetName, long* firstFilled) {
    if (firstFilled) *firstFilled = -1;
    pugi::xml_document doc;
    if (path.empty() || !doc.load_file(path.c_str())) return DmqLoad::Unreadable;
    auto root = FirstChildElement(doc, "CPDMQFILE");
    if (!root) return Stop(116);
    auto common = FirstChildElement(root, "COMMONPROPERTIES");
    if (!common) return Stop(117);
    for (auto p : common.children("COMMONPROPERTY")) {
        std::string name = p.attribute("name").as_string(), value = p.attribute("value").as_string();
        if (name == "StudyAreaDataset") {
            if (UCase(value) != UCase(datasetName)) {
                ResMsgBox(200, forms::vbCritical, 198);
                return DmqLoad::Stopped;
            }
        } else if (name == "Year") {
            query.yearNumber = static_cast<int16_t>(Variant(value).ToLong());
        } else if (name == "NumbersOption") {
            if (value != "True" && value != "False") return Stop(201);
            query.isNumbers = value == "True";
        } else if (name == "AllCharacteristics") {
            if (value != "True" && value != "False") return Stop(202);
            query.isAllCharacteristics = value == "True";
        } else {
            return Stop(121);
        }
    }
    auto cats = FirstChildElement(root, "CATEGORIES");
    if (!cats) return Stop(203);
    std::string otherSeparator;  // the first number written in another locale
    for (auto c : cats.children()) {
        if (c.type() != pugi::node_element || std::string(c.name()) != "CATEGORY") continue;
        std::string id = c.attribute("id").as_string();
        auto targets = FirstChildElement(c, "TARGETS");
        if (!targets) return Stop(204);
        CollectionPtr rec;
        for (auto& r : query.categoryRecords)
            if (IEquals(r->Item("Category ID").ToString(), id)) {
                rec = r;
                break;
            }
        if (!rec) continue;
        for (auto t : targets.children()) {
            if (t.type() != pugi::node_element || std::string(t.name()) != "TARGET") continue;
            std::string tid = t.attribute("id").as_string();
            auto props = FirstChildElement(t, "PROPERTIES");
            if (!props) return Stop(122);
            std::string floor, ceiling;
            for (auto p : props.children("PROPERTY")) {
                std::string n = p.attribute("name").as_string();
                if (n == "Floor") floor = p.attribute("value").as_string();
                else if (n == "Ceiling") ceiling = p.attribute("value").as_string();
            }
            for (const std::string* v : {&floor, &ceiling}) {
                bool other = false;
                if (otherSeparator.empty() && platform::ParseLocaleNumber(*v, other) && other) otherSeparator = Trim(*v);
            }
            for (long j = 0; j < DemographicQuery::TargetCount(*rec); ++j) {
                if (!IEquals(DemographicQuery::Get(*rec, "Target", j), tid)) continue;
                DemographicQuery::SetFloor(*rec, j, floor);
                DemographicQuery::SetCeiling(*rec, j, ceiling);
                break;
            }
        }
    }
    if (firstFilled)
        for (long i = 0; i < query.CategoryCount(); ++i)
            if (!DemographicQuery::IsCategoryEmpty(*query.categoryRecords[i])) {
                *firstFilled = i;
                break;
            }
    if (!otherSeparator.empty()) forms::MsgBox(platform::OtherSeparatorWarning(path, otherSeparator), forms::vbExclamation, "");
    return DmqLoad::Loaded;
}

}  // namespace pxcp
