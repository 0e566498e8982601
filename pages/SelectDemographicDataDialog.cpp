#include "pages/SelectDemographicDataDialog.h"

#include <filesystem>

#include "CustomerProfile/CustomerProfileDialog.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"
#include "pages/DemographicQueryFile.h"
#include "pages/SmallPages.h"

namespace pxcp {

using namespace host;
using forms::ControlKind;

namespace {
std::vector<std::string> LayoutOrder() {
    std::vector<std::string> o = {"Label1", "Label2", "Label4", "Label5", "Label6", "DemographicLevelLabel",
                                  "CategoryList", "SelectNoneButton", "Label9", "Label8", "Label7"};
    for (const char* arr : {"TargetLabel", "FloorText", "CeilingText"})
        for (int i = 0; i < SelectDemographicDataDialog::kRows; ++i) o.push_back(std::string(arr) + "(" + std::to_string(i) + ")");
    for (const char* n : {"Frame2", "NumbersOption", "PercentagesOption", "Frame4", "AllCharacteristicsOption",
                          "AnyCharacteristicsOption", "Frame5", "YearOption(0)", "YearOption(1)", "YearOption(2)", "Frame3",
                          "ShowButton", "FileButton", "ProfileButton", "HelpButton", "BackButton", "NextButton",
                          "CancelButton", "Frame1"})
        o.push_back(n);
    return o;
}
}  // namespace

SelectDemographicDataDialog::SelectDemographicDataDialog()
    : WizardPage("SelectDemographicDataDialog", 700, LayoutOrder()) {}

SelectDemographicDataDialog::~SelectDemographicDataDialog() {
    if (profileDialog) profileDialog->Unload();
    profileDialog.reset();
}

void SelectDemographicDataDialog::CreateControls() {
    caption = "269";
    Label("Label1", 186);
    Label("Label2", 185);
    Label("Label4", 183);
    Label("Label5", 182);
    Label("Label6", 181);
    Label("DemographicLevelLabel", 184);
    auto& list = Add("CategoryList", ControlKind::ListBox);
    list.multiSelect = true;
    list.onClick = [this] {
        if (listClickEnabled_ && Ctl("CategoryList").ListIndex() >= 0) ShowCategoryTargets(Ctl("CategoryList").ListIndex());
    };
    Button("SelectNoneButton", 103, [this] { SelectNoneButton_Click(); });
    Label("Label9", 176);
    Label("Label8", 177);
    Label("Label7", 178);
    Add("Frame2", ControlKind::Frame);
    for (int i = 0; i < kRows; ++i) {
        Add("TargetLabel", ControlKind::Label, "", i);
        for (const char* box : {"FloorText", "CeilingText"}) {
            auto& t = Add(box, ControlKind::TextBox, "", i);
            std::string b = box;
            t.onChange = [this, b, i] { OnBoxChange(b, i); };
            t.onValidate = [this, b, i](bool& cancel) { OnBoxValidate(b, i, cancel); };
            t.onLostFocus = [this] { SaveValues(currentCategory_); };
        }
    }
    Add("Frame4", ControlKind::Frame);
    auto& numbers = Add("NumbersOption", ControlKind::OptionButton, "174");
    numbers.group = "Values";
    numbers.onClick = [this] {
        for (int i = 0; i < kRows; ++i) {
            auto& l = Ctl("TargetLabel", i);
            if (l.visible) l.caption = ReplaceAll(l.caption, "%", "#");
        }
        model_.isNumbers = true;
    };
    auto& percent = Add("PercentagesOption", ControlKind::OptionButton, "173");
    percent.group = "Values";
    percent.onClick = [this] {
        if (currentCategory_ >= 0 && currentCategory_ < model_.CategoryCount()) {
            auto& rec = *model_.categoryRecords[currentCategory_];
            for (long j = 0; j < DemographicQuery::TargetCount(rec) && j < kRows; ++j)
                if (Variant(DemographicQuery::Get(rec, "CanPercent", j)).ToBool())
                    Ctl("TargetLabel", j).caption = ReplaceAll(Ctl("TargetLabel", j).caption, "#", "%");
        }
        model_.isNumbers = false;
    };
    Add("Frame5", ControlKind::Frame, "170");
    auto& all = Add("AllCharacteristicsOption", ControlKind::OptionButton, "172");
    all.group = "Match";
    all.onClick = [this] { model_.isAllCharacteristics = true; };
    auto& any = Add("AnyCharacteristicsOption", ControlKind::OptionButton, "171");
    any.group = "Match";
    any.onClick = [this] { model_.isAllCharacteristics = false; };
    Add("Frame3", ControlKind::Frame, "175");
    for (int i = 0; i < 3; ++i) {
        auto& y = Add("YearOption", ControlKind::OptionButton, "175", i);
        y.group = "Year";
        y.visible = false;
        y.onClick = [this, i] { model_.yearNumber = static_cast<int16_t>(i + 1); };
    }
    Button("ShowButton", 179, [this] {
        ShowQueryDialog page;
        page.Ctl("QueryText").SetText(ShowQuery());
        page.ResetParams();
        page.ShowModal();
        page.Unload();
    });
    Button("FileButton", 110, [this] { ShowFileOptionDialog(); });
    Button("ProfileButton", 180, [this] { ProfileButton_Click(); });
    Add("Frame1", ControlKind::Frame);
    Button("HelpButton", 106, [this] { ShowHelp(kHelpFile, kHelpProspecting, Hwnd()); });
    Button("BackButton", 160, [this] {
        result = 2;
        Hide();
        if (profileDialog) profileDialog->Unload();
        profileDialog.reset();
    });
    Button("NextButton", 161, [this] { NextButton_Click(); });
    Button("CancelButton", 107, [this] {
        result = -1;
        Hide();
    });
}

std::string SelectDemographicDataDialog::DatasetName() const { return businessDataset ? businessDataset->name : ""; }

void SelectDemographicDataDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) {
        loadDmqOnInit_ = false;
        return;
    }
    dmqFilePath_ = ps->GetProperty("DMQFileFullPath").ToString();
    loadDmqOnInit_ = !dmqFilePath_.empty() && std::filesystem::exists(dmqFilePath_);
}

void SelectDemographicDataDialog::InitializeDialog() {
    errorHandler_ = NewErrorHandler();
    whereClause.clear();
    listClickEnabled_ = true;
    result = -1;
    PX_TRY
    ShowLevelCaption();
    years_ = mainTask->years;
    model_.Build(mainTask);
    for (long i = 0; i < mainTask->CategoryCount(); ++i) Ctl("CategoryList").AddItem(mainTask->Category(i)->caption);
    SetDefaultOptions();
    if (loadDmqOnInit_) LoadDMQFile(dmqFilePath_);
    ShowCategoryTargets(0);
    PX_CATCH(errorHandler_, "InitializeDialog ")
}

void SelectDemographicDataDialog::ShowLevelCaption() {
    std::string level = mainTask->levelName;
    Ctl("DemographicLevelLabel").caption =
        UCase(level) == "COUNTY" ? FindString(187) + FindString(188) : FindString(187) + level + FindString(189);
}

void SelectDemographicDataDialog::SetDefaultOptions() {
    for (long i = 0; i < 3; ++i) {
        auto& y = Ctl("YearOption", static_cast<int>(i));
        y.visible = years_ && i < years_->Count();
        if (y.visible) y.caption = years_->Item(i);
    }
    model_.isNumbers = true;
    model_.isAllCharacteristics = true;
    model_.yearNumber = 1;
    Ctl("YearOption", 0).SetValue(true);
    Ctl("NumbersOption").SetValue(true);
    Ctl("AllCharacteristicsOption").SetValue(true);
    for (int i = 0; i < kRows; ++i) {
        Ctl("FloorText", i).visible = Ctl("CeilingText", i).visible = Ctl("TargetLabel", i).visible = false;
    }
}

namespace {
// Fills a box from the model without running its Change rules (those are
// for what the analyst types).
void SetTextQuietly(forms::Control& box, const std::string& text) {
    auto keep = box.onChange;
    box.onChange = nullptr;
    box.SetText(text);
    box.onChange = keep;
}
}  // namespace

void SelectDemographicDataDialog::ClearTargetRows() {
    for (int i = 0; i < kRows; ++i) {
        for (const char* b : {"FloorText", "CeilingText"}) {
            SetTextQuietly(Ctl(b, i), "");
            Ctl(b, i).visible = false;
        }
        Ctl("TargetLabel", i).caption.clear();
        Ctl("TargetLabel", i).visible = false;
    }
}

void SelectDemographicDataDialog::ShowCategoryTargets(long index) {
    ClearTargetRows();
    if (index < 0 || index >= model_.CategoryCount()) return;
    currentCategory_ = index;
    auto& rec = *model_.categoryRecords[index];
    for (long j = 0; j < DemographicQuery::TargetCount(rec) && j < kRows; ++j) {
        int r = static_cast<int>(j);
        std::string cap = "# " + DemographicQuery::Get(rec, "Target", j);
        if (!Ctl("NumbersOption").Value() && Variant(DemographicQuery::Get(rec, "CanPercent", j)).ToBool())
            cap = ReplaceAll(cap, "#", "%");
        Ctl("TargetLabel", r).caption = cap;
        Ctl("TargetLabel", r).visible = true;
        for (const char* b : {"FloorText", "CeilingText"}) {
            Ctl(b, r).visible = true;
            SetTextQuietly(Ctl(b, r), DemographicQuery::Get(rec, std::string(b) == "FloorText" ? "Floor" : "Ceiling", j));
        }
    }
}

void SelectDemographicDataDialog::OnBoxChange(const std::string& box, int row) {
    auto& t = Ctl(box, row);
    auto v = platform::ParseLocaleNumber(t.Text());
    if (v && t.visible && !t.Text().empty() && Ctl("TargetLabel", row).caption.rfind("%", 0) == 0 && *v > 100)
        t.SetText("100");
    if (Ctl("CategoryList").ListIndex() >= 0) currentCategory_ = Ctl("CategoryList").ListIndex();
}

void SelectDemographicDataDialog::OnBoxValidate(const std::string& box, int row, bool& cancel) {
    auto& t = Ctl(box, row);
    if (t.Text().empty()) return;
    auto v = platform::ParseLocaleNumber(t.Text());
    int first = !v ? 193 : (*v < 0 ? 195 : 0);
    if (!first) return;
    forms::MsgBox(FindString(first) + "\r\n" + FindString(194), forms::vbInformation, FindString(128));
    t.SetText("");
    cancel = true;
}

void SelectDemographicDataDialog::SaveValues(long c) {
    if (c < 0 || c >= model_.CategoryCount()) return;
    auto& rec = *model_.categoryRecords[c];
    for (long j = 0; j < DemographicQuery::TargetCount(rec) && j < kRows; ++j) {
        DemographicQuery::SetFloor(rec, j, Ctl("FloorText", static_cast<int>(j)).Text());
        DemographicQuery::SetCeiling(rec, j, Ctl("CeilingText", static_cast<int>(j)).Text());
    }
}

std::vector<bool> SelectDemographicDataDialog::Selection() {
    std::vector<bool> s;
    auto& list = Ctl("CategoryList");
    for (long i = 0; i < list.ListCount(); ++i) s.push_back(list.Selected(i));
    return s;
}

std::string SelectDemographicDataDialog::ShowQuery() {
    std::string year;
    for (int i = 0; i < 3; ++i)
        if (Ctl("YearOption", i).Value()) year = Ctl("YearOption", i).caption;
    return model_.ShowQuery(Selection(), year, mainTask ? mainTask->levelName : "");
}

void SelectDemographicDataDialog::NextButton_Click() {
    PX_TRY
    SaveValues(currentCategory_);
    auto sel = Selection();
    bool any = false;
    for (long i = 0; i < model_.CategoryCount(); ++i)
        any = any || (i < static_cast<long>(sel.size()) && sel[i] && !DemographicQuery::IsCategoryEmpty(*model_.categoryRecords[i]));
    if (!any) {
        ResMsgBox(197, forms::vbInformation, 198);
        return;
    }
    auto ask = [this](long i, long, const std::string& q) {
        Ctl("CategoryList").SetListIndex(i);
        ShowCategoryTargets(i);
        return forms::MsgBox(q, forms::vbYesNo | forms::vbInformation, "Information");
    };
    auto focus = [this](long, long j, bool ceiling) {
        Ctl(ceiling ? "CeilingText" : "FloorText", static_cast<int>(j)).SetFocus();
    };
    // Each step reports its own failure under its own name; a failed step
    // counts as a refusal and the page stays open.
    auto step = [this](const char* location, const std::function<bool()>& body) {
        try {
            return body();
        } catch (...) {
            ReportException(errorHandler_, location);
            return false;
        }
    };
    bool ok = step("CheckFloorAndCeilingValues ", [&] { return model_.CheckFloorAndCeilingValues(ask, focus); });
    if (ok && !Ctl("NumbersOption").Value())
        ok = step("CheckPercents ", [&] { return model_.CheckPercents(ask, focus); });
    ShowCategoryTargets(currentCategory_);
    if (!ok) return;
    std::string clause;
    if (!step("MakeQueryString ", [&] {
            clause = model_.MakeQueryString();
            return true;
        }))
        return;
    whereClause = clause;
    fieldList = model_.fieldList;
    fieldCollection = model_.fieldCollection;
    result = 1;
    Hide();
    PX_CATCH(errorHandler_, "NextButton_Click ")
}

void SelectDemographicDataDialog::SelectNoneButton_Click() {
    for (auto& rec : model_.categoryRecords)
        for (long j = 0; j < DemographicQuery::TargetCount(*rec); ++j) {
            if (!DemographicQuery::Get(*rec, "Floor", j).empty()) DemographicQuery::SetFloor(*rec, j, "");
            if (!DemographicQuery::Get(*rec, "Ceiling", j).empty()) DemographicQuery::SetCeiling(*rec, j, "");
        }
    ClearTargetRows();
    auto& list = Ctl("CategoryList");
    listClickEnabled_ = false;
    for (long i = 0; i < list.ListCount(); ++i) list.SetSelected(i, false);
    listClickEnabled_ = true;
}

void SelectDemographicDataDialog::ShowFileOptionDialog() {
    FileOptionDialog page;
    page.application = application;
    page.FileTypeName = "Demographic Query File";
    page.FileExtension = "dmq";
    page.InitializeDialog();
    page.ResetParams();
    page.ShowModal();
    if (page.Action == 0) LoadDMQFile(page.FileName);
    else if (page.Action == 1) SaveDMQFile(page.FileName);
    page.Unload();
}

void SelectDemographicDataDialog::SyncOptionControls() {
    int y = model_.yearNumber - 1;
    if (y >= 0 && y < 3) Ctl("YearOption", y).SetValue(true);
    Ctl(model_.isNumbers ? "NumbersOption" : "PercentagesOption").SetValue(true);
    Ctl(model_.isAllCharacteristics ? "AllCharacteristicsOption" : "AnyCharacteristicsOption").SetValue(true);
}

void SelectDemographicDataDialog::LoadDMQFile(const std::string& path) {
    PX_TRY
    long first = -1;
    auto outcome = pxcp::LoadDMQFile(model_, path, DatasetName(), &first);
    if (outcome == DmqLoad::Unreadable) return;
    SyncOptionControls();
    if (outcome != DmqLoad::Loaded) return;
    auto& list = Ctl("CategoryList");
    if (first >= 0) {
        listClickEnabled_ = false;
        list.SetSelected(first, true);
        listClickEnabled_ = true;
    }
    ShowCategoryTargets(list.ListIndex() >= 0 ? list.ListIndex() : 0);
    PX_CATCH(errorHandler_, "LoadDMQFile ")
}

void SelectDemographicDataDialog::SaveDMQFile(const std::string& path) {
    PX_TRY
    pxcp::SaveDMQFile(model_, path, DatasetName());
    PX_CATCH(errorHandler_, "SaveDMQFile ")
}

void SelectDemographicDataDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    PX_TRY
    if (profileDialog) profileDialog->WriteToPropertySet(ps);
    std::string w = dataManager->WorkingPath();
    std::string folder = w.substr(0, w.find_last_of("/\\") + 1);
    if (!IContains(dmqFilePath_, folder)) dmqFilePath_ = w + ".dmq";
    SaveDMQFile(dmqFilePath_);
    ps->SetProperty("DMQFileFullPath", dmqFilePath_);
    PX_CATCH(errorHandler_, "WriteToPropertySet ")
}

void SelectDemographicDataDialog::Form_Activate() {
    if (!profileDialog) {
        ShowFirstSelectedCategory();
        return;
    }
    // Shown again after a profile computation: the controls are new.
    if (profileDialog->closeCode == 0) {
        profileDialog->closeCode = -1;
        RestoreControls();
        if (!profileDialog->m_bNewProfilePushed) ProfileButton_Click();
    }
}

void SelectDemographicDataDialog::ShowFirstSelectedCategory() {
    auto& list = Ctl("CategoryList");
    for (long i = 0; i < list.ListCount(); ++i)
        if (list.Selected(i)) {
            listClickEnabled_ = false;
            list.SetSelected(i, true);
            listClickEnabled_ = true;
            ShowCategoryTargets(i);
            break;
        }
}

void SelectDemographicDataDialog::SelectCategoriesQuietly(const std::vector<long>& categories) {
    auto& list = Ctl("CategoryList");
    listClickEnabled_ = false;
    for (long c : categories)
        if (c >= 0 && c < list.ListCount()) list.SetSelected(c, true);
    listClickEnabled_ = true;
}

void SelectDemographicDataDialog::RestoreControls() {
    PX_TRY
    ShowLevelCaption();
    for (long i = 0; i < 3; ++i) {
        auto& y = Ctl("YearOption", static_cast<int>(i));
        y.visible = years_ && i < years_->Count();
        if (y.visible) y.caption = years_->Item(i);
    }
    auto& list = Ctl("CategoryList");
    if (list.ListCount() == 0) {
        for (long i = 0; i < model_.CategoryCount(); ++i) {
            auto cat = mainTask ? mainTask->CategoryById(model_.categoryRecords[i]->Item("Category ID").ToString()) : nullptr;
            list.AddItem(cat ? cat->caption : model_.categoryRecords[i]->Item("Category ID").ToString());
        }
        std::vector<long> kept;
        for (long i = 0; i < static_cast<long>(keptSelection_.size()); ++i)
            if (keptSelection_[i]) kept.push_back(i);
        SelectCategoriesQuietly(kept);
    }
    SyncOptionControls();
    if (currentCategory_ >= 0 && currentCategory_ < list.ListCount()) {
        listClickEnabled_ = false;
        list.SetListIndex(currentCategory_);
        listClickEnabled_ = true;
    }
    ShowCategoryTargets(currentCategory_);
    PX_CATCH(errorHandler_, "RestoreControls ")
}

void SelectDemographicDataDialog::ProfileButton_Click() {
    PX_TRY
    SaveValues(currentCategory_);
    std::shared_ptr<CustomerProfileDialog> dialog;
    if (!profileDialog) {
        dialog = std::make_shared<CustomerProfileDialog>();
        dialog->mainTask = mainTask;
        dialog->businessDataset = businessDataset;
        dialog->m_nYearIndex = model_.yearNumber;
        dialog->m_bNumbersOption = model_.isNumbers;
        dialog->dataManager = dataManager;
        dialog->application = application;
        dialog->InitializeDialog();
        dialog->ReadFromPropertySet(pageSettings);
        dialog->ResetParams();
    } else {
        dialog = std::move(profileDialog);
        profileDialog.reset();
        dialog->m_nYearIndex = model_.yearNumber;
        dialog->ResetParams();
    }
    dialog->ShowModal();
    PopulateFromProfile(dialog);
    PX_CATCH(errorHandler_, "ProfileButton_Click ")
}

void SelectDemographicDataDialog::PopulateFromProfile(const std::shared_ptr<CustomerProfileDialog>& dialog) {
    profileDialog = dialog;
    if (dialog->m_bNewProfilePushed) {
        // The sub-task computes the profile and shows the page again.
        keptSelection_ = Selection();
        result = -1;
        Hide();
        Unload();
        return;
    }
    if (!dialog->m_bPopulateProfilePushed) return;
    dialog->m_bPopulateProfilePushed = false;
    if (dialog->m_bNumbersOption != model_.isNumbers) {
        model_.isNumbers = dialog->m_bNumbersOption;
        Ctl(model_.isNumbers ? "NumbersOption" : "PercentagesOption").SetValue(true);
    }
    if (dialog->m_bClearBefore) SelectNoneButton_Click();
    std::vector<long> touched;
    if (dialog->m_popul_col)
        touched = model_.PopulateFromProfile(*dialog->m_popul_col, dialog->m_nManner, dialog->m_dOffset);
    SelectCategoriesQuietly(touched);
    ShowFirstSelectedCategory();
}

}  // namespace pxcp
