#include "pages/SelectHouseholdDataDialog.h"

#include <filesystem>

#include "PXCP/PXAnalysisUtils.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"
#include "pages/QueryFileXml.h"
#include "pages/SmallPages.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;
using forms::ControlKind;

namespace {

const char* kPage = "SelectHouseholdDataDialog";

std::string Key(long n, const char* what) { return std::to_string(n) + what; }

std::string Upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The age bands of "MEDN_AGE" stand for lists of service codes; 051 is in none.
std::vector<std::string> AgeBand(const std::string& id) {
    auto range = [](int a, int b) {
        std::vector<std::string> v;
        for (int i = a; i <= b; ++i) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", i);
            v.push_back(buf);
        }
        return v;
    };
    if (id == "-1") return range(36, 40);
    if (id == "-2") return range(41, 50);
    if (id == "-3") return range(52, 60);
    if (id == "-4") return range(61, 67);
    return {};
}

// Reads the analyst's number; nullopt when the text is no number.
std::optional<double> ReadNumber(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    try {
        return platform::ParseLocaleNumber(t);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

SelectHouseholdDataDialog::SelectHouseholdDataDialog()
    : WizardPage(kPage, 1100,
                 {"CategoryList", "TargetList", "TargetLabel", "SelectNoneCategoriesButton", "SelectNoneTargetsButton",
                  "MinimumTargetText", "NumberOption", "PercentageOption", "WaitOption", "DontWaitOption", "ShowButton",
                  "FileButton", "QuillonButton", "NextButton", "BackButton", "CancelButton", "HelpButton", "Frame1",
                  "Frame4", "Frame5", "Label2", "Label3", "Label4", "Label5", "Label6"}),
      errorHandler_(NewErrorHandler()) {}

void SelectHouseholdDataDialog::CreateControls() {
    caption = "269";
    for (const char* f : {"Frame1", "Frame4", "Frame5"}) Add(f, ControlKind::Frame);
    Label("Label2", 271);
    Label("Label3", 272);
    Label("Label4", 273);
    Label("Label5", 274);
    Label("Label6", 275);
    auto& cats = Add("CategoryList", ControlKind::ListBox);
    cats.multiSelect = true;
    cats.onClick = [this] { CategoryList_Click(); };
    auto& targets = Add("TargetList", ControlKind::ListBox);
    targets.multiSelect = true;
    targets.onClick = [this] { TargetList_Click(); };
    Add("TargetLabel", ControlKind::Label);
    Button("SelectNoneCategoriesButton", 103, [this] { SelectNoneCategories(); });
    Button("SelectNoneTargetsButton", 103, [this] { SelectNoneTargets(); });
    Add("MinimumTargetText", ControlKind::TextBox).onChange = [this] { MinimumTargetText_Change(); };
    for (auto [name, id, group] : std::vector<std::tuple<const char*, int, const char*>>{
             {"NumberOption", 276, "minimum"}, {"PercentageOption", 277, "minimum"},
             {"WaitOption", 278, "wait"}, {"DontWaitOption", 279, "wait"}}) {
        Add(name, ControlKind::OptionButton, std::to_string(id)).group = group;
    }
    Ctl("NumberOption").container = Ctl("PercentageOption").container = "Frame4";
    Ctl("WaitOption").container = Ctl("DontWaitOption").container = "Frame5";
    Button("ShowButton", 179, [this] {
        ShowQueryDialog d;
        d.Ctl("QueryText").SetText(ShowQuery());
        d.ShowModal();
        d.Unload();
    });
    Button("FileButton", 110, [this] { ShowFileOptionDialog(); });
    Button("QuillonButton", 280, [this] {
        std::string url = FindCustomerProspectingEntry(businessDataset)
                              ? FindCustomerProspectingEntry(businessDataset)->Param("Quillon360URL")
                              : "";
        if (url.empty() && mainTask) url = mainTask->Param("Quillon360URL");
        OpenURL(Hwnd(), url.empty() ? kHouseholdServiceURL : url);
    });
    NavigationButtons(result, [this] { NextButton_Click(); });
}

bool SelectHouseholdDataDialog::IsCategoryEmpty(const Collection& c) {
    for (long n = 0; n < TargetCount(c); ++n)
        if (c.Item(Key(n, "TargetValue")).ToLong() != 0) return false;
    return true;
}

std::string SelectHouseholdDataDialog::GeographyCode(const std::string& mainLayerName, const std::string& levelName) {
    static const std::map<std::string, std::string> byLayer = {
        {"US.Demography.BlockGroups", "CENSUSBLOCKGROUP"}, {"US.Demography.Tracts", "CENSUSTRACT"},
        {"US.Demography.ZIPCodes", "ZIPCODE"},             {"US.Demography.Counties", "COUNTY"},
        {"US.Demography.States", "STATE"}};
    if (auto it = byLayer.find(mainLayerName); it != byLayer.end()) return it->second;
    // Datasets of our own name their levels instead.
    static const std::map<std::string, std::string> byLevel = {{"BLOCK GROUP", "CENSUSBLOCKGROUP"},
                                                               {"TRACT", "CENSUSTRACT"},
                                                               {"ZIP CODE", "ZIPCODE"},
                                                               {"COUNTY", "COUNTY"},
                                                               {"STATE", "STATE"}};
    if (auto it = byLevel.find(Upper(levelName)); it != byLevel.end()) return it->second;
    return "";
}

// ---------------- opening and closing ----------------

void SelectHouseholdDataDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    hhqFilePath_ = ps->GetProperty("HHQFileFullPath").ToString();
    if (hhqFilePath_.empty() || !fs::exists(hhqFilePath_)) hhqFilePath_.clear();
}

void SelectHouseholdDataDialog::InitializeDialog() {
    auto& list = Ctl("CategoryList");
    if (list.ListCount() > 0) {
        for (long i = 0; i < list.ListCount(); ++i)
            if (list.Selected(i)) {
                guard_ = true;
                list.SetListIndex(i);
                guard_ = false;
                break;
            }
        FillTargetList(std::max(0L, list.ListIndex()));
        return;
    }
    categories_.clear();
    if (mainTask)
        for (auto& cat : mainTask->categories) {
            auto c = std::make_shared<Collection>();
            c->Add(cat->id, "CategoryID");
            c->Add(cat->caption, FindString(233));
            for (long n = 0; n < cat->TargetCount(); ++n) {
                c->Add(cat->targets[n]->name, Key(n, "TargetID"));
                c->Add(cat->targets[n]->caption, Key(n, FindString(234).c_str()));
                c->Add(0, Key(n, "TargetValue"));
            }
            categories_.push_back(c);
            list.AddItem(cat->caption);
        }
    Ctl("NumberOption").SetValue(true);
    Ctl("WaitOption").SetValue(true);
    if (!categories_.empty()) {
        guard_ = true;
        list.SetListIndex(0);
        guard_ = false;
        FillTargetList(0);
    }
    std::string level = mainTask ? mainTask->levelName : "";
    Ctl("TargetLabel").caption = FindString(229) + " " + level + "?";
    if (!hhqFilePath_.empty()) LoadHHQFile(hhqFilePath_);
}

void SelectHouseholdDataDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    std::string temp = dataManager ? dataManager->WorkingPath() : (fs::temp_directory_path() / "plexa").string();
    fs::path folder = fs::path(temp).parent_path();
    if (hhqFilePath_.empty() || fs::path(hhqFilePath_).parent_path() != folder) hhqFilePath_ = temp + ".hhq";
    SaveHHQFile(hhqFilePath_);
    ps->SetProperty("HHQFileFullPath", hhqFilePath_);
}

// ---------------- lists ----------------

void SelectHouseholdDataDialog::FillTargetList(long index) {
    auto& targets = Ctl("TargetList");
    targets.visible = true;
    Ctl("Label6").visible = true;
    Ctl("SelectNoneTargetsButton").visible = true;
    targets.Clear();
    if (index < 0 || index >= static_cast<long>(categories_.size())) return;
    auto& c = *categories_[index];
    bool guard = guard_;
    guard_ = true;
    for (long n = 0; n < TargetCount(c); ++n) {
        targets.AddItem(c.Item(Key(n, FindString(234).c_str())).ToString());
        if (c.Item(Key(n, "TargetValue")).ToLong() != 0) targets.SetSelected(n, true);
    }
    guard_ = guard;
}

void SelectHouseholdDataDialog::CategoryList_Click() {
    if (guard_) return;
    try {
        auto& list = Ctl("CategoryList");
        long index = list.ListIndex();
        guard_ = true;
        for (long i = 0; i < list.ListCount() && i < static_cast<long>(categories_.size()); ++i)
            list.SetSelected(i, !IsCategoryEmpty(*categories_[i]));
        list.SetListIndex(index);
        guard_ = false;
        FillTargetList(index);
    } catch (const std::exception& e) {
        guard_ = false;
        forms::MsgBox(FindString(191) + e.what());
    }
}

void SelectHouseholdDataDialog::SetTarget(long category, long n, int value) {
    categories_[category]->Replace(Key(n, "TargetValue"), value);
}

void SelectHouseholdDataDialog::TargetList_Click() {
    if (guard_) return;
    auto& list = Ctl("CategoryList");
    long index = list.ListIndex();
    if (index < 0 || index >= static_cast<long>(categories_.size())) return;
    auto& targets = Ctl("TargetList");
    for (long n = 0; n < targets.ListCount(); ++n) SetTarget(index, n, targets.Selected(n) ? 1 : 0);
    if (targets.SelCount() > 0) {
        guard_ = true;
        list.SetSelected(index, true);
        guard_ = false;
    }
}

void SelectHouseholdDataDialog::SelectNoneCategories() {
    for (long i = 0; i < static_cast<long>(categories_.size()); ++i)
        for (long n = 0; n < TargetCount(*categories_[i]); ++n) SetTarget(i, n, 0);
    guard_ = true;
    auto& list = Ctl("CategoryList");
    for (long i = 0; i < list.ListCount(); ++i) list.SetSelected(i, false);
    auto& targets = Ctl("TargetList");
    for (long n = 0; n < targets.ListCount(); ++n) targets.SetSelected(n, false);
    guard_ = false;
}

void SelectHouseholdDataDialog::SelectNoneTargets() {
    auto& list = Ctl("CategoryList");
    long index = list.ListIndex();
    if (index < 0 || index >= static_cast<long>(categories_.size())) return;
    for (long n = 0; n < TargetCount(*categories_[index]); ++n) SetTarget(index, n, 0);
    guard_ = true;
    auto& targets = Ctl("TargetList");
    for (long n = 0; n < targets.ListCount(); ++n) targets.SetSelected(n, false);
    list.SetSelected(index, false);
    guard_ = false;
}

void SelectHouseholdDataDialog::MinimumTargetText_Change() {
    auto v = ReadNumber(Ctl("MinimumTargetText").Text());
    if (v) Ctl("NextButton").enabled = *v >= 0;
}

void SelectHouseholdDataDialog::NextButton_Click() {
    bool any = false;
    for (auto& c : categories_) any = any || !IsCategoryEmpty(*c);
    if (!any) {
        ResMsgBox(197, forms::vbInformation, 128);
        return;
    }
    auto& minimum = Ctl("MinimumTargetText");
    if (Trim(minimum.Text()).empty()) {
        ResMsgBox(235, forms::vbInformation, 128);
        minimum.SetFocus();
        return;
    }
    auto v = ReadNumber(minimum.Text());
    if (!v) {  // a text that is no number cannot be a minimum
        ResMsgBox(193, forms::vbInformation, 128);
        minimum.SetFocus();
        return;
    }
    if (Ctl("PercentageOption").Value() && *v > 100) {
        ResMsgBox(236, forms::vbInformation, 128);
        minimum.SetFocus();
        return;
    }
    if (!BuildHouseholdQuery(geogField, qFields, qList)) {
        ResMsgBox(237, forms::vbCritical, 128);
        return;
    }
    result = 1;
    Hide();
}

// ---------------- the query ----------------

bool SelectHouseholdDataDialog::BuildHouseholdQuery(std::string& geography, std::string& fields, std::string& list) {
    geography.clear();
    fields.clear();
    list.clear();
    for (auto& cp : categories_) {
        auto& c = *cp;
        if (IsCategoryEmpty(c)) continue;
        std::string id = c.Item("CategoryID").ToString();
        fields += id + ",";
        for (long n = 0; n < TargetCount(c); ++n) {
            if (c.Item(Key(n, "TargetValue")).ToLong() != 1) continue;
            std::string target = c.Item(Key(n, "TargetID")).ToString();
            if (id != "MEDN_AGE") {
                list += "\"" + target + "\",";
                continue;
            }
            auto band = AgeBand(target);
            if (band.empty()) list += target + ",";
            for (auto& code : band) list += "\"" + code + "\",";
        }
        if (!list.empty() && list.back() == ',') list.back() = ';';
    }
    if (!list.empty() && list.back() == ',') list.pop_back();
    if (!list.empty() && list.back() == ';') list.pop_back();
    if (!fields.empty() && fields.back() == ',') fields.pop_back();
    if (fields.empty() || list.empty()) {
        forms::MsgBox(FindString(238));
        return false;
    }
    geography = GeographyCode(mainLayerName, mainTask ? mainTask->levelName : "");
    return true;
}

std::string SelectHouseholdDataDialog::ShowQuery() {
    const std::string crlf = "\r\n";
    std::string level = mainTask ? mainTask->levelName : "";
    for (auto& ch : level) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string plural = level == "county" ? "counties" : level + "s";
    std::string minimum = Ctl("MinimumTargetText").Text();
    std::string text = "You will be searching for " + plural + " where at least " + (minimum.empty() ? "1" : minimum) + " ";
    if (!Ctl("NumberOption").Value()) text += "percent of ";
    text += "households match the following criteria:" + crlf;
    bool first = true;
    for (auto& cp : categories_) {
        auto& c = *cp;
        if (IsCategoryEmpty(c)) continue;
        text += crlf + (first ? "" : "and ") + c.Item(FindString(233)).ToString() + " is";
        first = false;
        bool firstTarget = true;
        for (long n = 0; n < TargetCount(c); ++n) {
            if (c.Item(Key(n, "TargetValue")).ToLong() == 0) continue;
            text += crlf + "\t" + (firstTarget ? "" : "or ") + c.Item(Key(n, FindString(234).c_str())).ToString();
            firstTarget = false;
        }
    }
    if (first) text += crlf + "no categories have been targeted";
    return text;
}

void SelectHouseholdDataDialog::ShowFileOptionDialog() {
    try {
        FileOptionDialog d;
        d.application = application;
        d.FileTypeName = "Household Query File";
        d.FileExtension = "hhq";
        d.caption = FindString(230);
        d.InitializeDialog();
        d.ResetParams();
        d.ShowModal();
        int action = d.Action;
        std::string file = d.FileName;
        d.Unload();
        if (action == 0) LoadHHQFile(file);
        else if (action == 1) SaveHHQFile(file);
    } catch (...) {
        ReportException(errorHandler_, "ShowFileOptionDialog ");
    }
}

void SelectHouseholdDataDialog::SaveHHQFile(const std::string& path) {
    try {
        pugi::xml_document doc;
        auto root = BeginQueryFile(doc, "CPHHQFILE");
        auto common = root.append_child("COMMONPROPERTIES");
        auto prop = [&](const char* name, const std::string& value) { AddNameValue(common, "COMMONPROPERTY", name, value); };
        prop("StudyAreaDataset", studyAreaDataset);
        prop("MinimumTargetValue", Ctl("MinimumTargetText").Text());
        prop("NumbersOption", Ctl("NumberOption").Value() ? "True" : "False");
        prop("WaitForResult", Ctl("WaitOption").Value() ? "True" : "False");
        auto cats = root.append_child("CATEGORIES");
        for (auto& cp : categories_) {
            auto c = cats.append_child("CATEGORY");
            c.append_attribute("id") = cp->Item("CategoryID").ToString().c_str();
            auto targets = c.append_child("TARGETS");
            for (long n = 0; n < TargetCount(*cp); ++n) {
                auto t = targets.append_child("TARGET");
                t.append_attribute("id") = cp->Item(Key(n, "TargetID")).ToString().c_str();
                t.append_attribute("value") = cp->Item(Key(n, "TargetValue")).ToLong() ? "1" : "0";
            }
        }
        SaveQueryFile(doc, path, "household query file");
    } catch (...) {
        ReportException(errorHandler_, "SaveHHQFile ");
    }
}

void SelectHouseholdDataDialog::LoadHHQFile(const std::string& path) {
    try {
        SelectNoneCategories();
        Ctl("MinimumTargetText").SetText("");
        Ctl("NumberOption").SetValue(true);
        Ctl("WaitOption").SetValue(true);
        pugi::xml_document doc;
        if (!doc.load_file(path.c_str())) return;
        auto stop = [](int id, int style = forms::vbOKOnly, int title = 0) { ResMsgBox(id, style, title); };
        auto root = FirstChildElement(doc, "CPHHQFILE");
        if (!root) return stop(116);
        auto common = FirstChildElement(root, "COMMONPROPERTIES");
        if (!common) return stop(117);
        for (auto p : common.children()) {
            if (p.type() != pugi::node_element || std::string(p.name()) != "COMMONPROPERTY") continue;
            std::string name = p.attribute("name").as_string(), value = p.attribute("value").as_string();
            if (name == "StudyAreaDataset") {
                if (Upper(value) != Upper(studyAreaDataset)) return stop(231, forms::vbCritical, 128);
            } else if (name == "MinimumTargetValue") {
                Ctl("MinimumTargetText").SetText(value);
                // A file saved under another locale: say how its minimum is read.
                bool other = false;
                if (platform::ParseLocaleNumber(value, other) && other)
                    forms::MsgBox(platform::OtherSeparatorWarning(path, Trim(value)), forms::vbExclamation, "");
            } else if (name == "NumbersOption") {
                if (value != "True" && value != "False") return stop(201);
                Ctl(value == "True" ? "NumberOption" : "PercentageOption").SetValue(true);
            } else if (name == "WaitForResult") {
                if (value != "True" && value != "False") return stop(232);
                Ctl(value == "True" ? "WaitOption" : "DontWaitOption").SetValue(true);
            } else {
                return stop(121);
            }
        }
        auto cats = FirstChildElement(root, "CATEGORIES");
        if (!cats) return stop(203);
        for (auto c : cats.children()) {
            if (c.type() != pugi::node_element || std::string(c.name()) != "CATEGORY") continue;
            std::string id = Upper(c.attribute("id").as_string());
            long index = -1;
            for (long i = 0; i < static_cast<long>(categories_.size()); ++i)
                if (Upper(categories_[i]->Item("CategoryID").ToString()) == id) index = i;
            if (index < 0) continue;
            auto targets = FirstChildElement(c, "TARGETS");
            if (!targets) return stop(204);
            for (auto t : targets.children()) {
                if (t.type() != pugi::node_element || std::string(t.name()) != "TARGET") continue;
                std::string tid = Upper(t.attribute("id").as_string());
                for (long n = 0; n < TargetCount(*categories_[index]); ++n)
                    if (Upper(categories_[index]->Item(Key(n, "TargetID")).ToString()) == tid)
                        SetTarget(index, n, t.attribute("value").as_int() ? 1 : 0);
            }
        }
        auto& list = Ctl("CategoryList");
        guard_ = true;
        for (long i = 0; i < static_cast<long>(categories_.size()); ++i)
            if (!IsCategoryEmpty(*categories_[i])) {
                list.SetSelected(i, true);
                list.SetListIndex(i);
                break;
            }
        guard_ = false;
        FillTargetList(std::max(0L, list.ListIndex()));
    } catch (...) {
        guard_ = false;
        ReportException(errorHandler_, "LoadHHQFile ");
    }
}

}  // namespace pxcp
