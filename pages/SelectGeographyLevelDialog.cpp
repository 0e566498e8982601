#include "pages/SelectGeographyLevelDialog.h"

#include "PXCP/PXAnalysisUtils.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;
using forms::ControlKind;

SelectGeographyLevelDialog::SelectGeographyLevelDialog()
    : WizardPage("SelectGeographyLevelDialog", 1000,
                 {"GeographyLevelsList", "HouseholdDataOption", "DemographicDataOption", "Frame1", "HelpButton",
                  "BackButton", "NextButton", "CancelButton", "Label1", "Image1", "Label2"}) {}

void SelectGeographyLevelDialog::CreateControls() {
    WizardFrame();
    Label("Label1", 211);
    auto& list = Add("GeographyLevelsList", ControlKind::ListBox);
    list.container = "Frame1";
    list.onClick = [this] { GeographyLevelsList_Click(); };
    Label("Label2", 212);
    auto& demo = Add("DemographicDataOption", ControlKind::OptionButton, "210");
    demo.group = "Way";
    demo.SetValue(true);
    demo.onClick = [this] {
        IsDemographicWay = true;
        Ctl("GeographyLevelsList").enabled = true;
    };
    demo.onDblClick = [this] {
        IsDemographicWay = true;
        NextButton_Click();
    };
    auto& hh = Add("HouseholdDataOption", ControlKind::OptionButton, "209");
    hh.group = "Way";
    hh.onClick = [this] { IsDemographicWay = false; };
    hh.onDblClick = [this] {
        IsDemographicWay = false;
        NextButton_Click();
    };
    NavigationButtons(Result, [this] { NextButton_Click(); });
}

void SelectGeographyLevelDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) {
        hasSettings_ = false;
        return;
    }
    hasSettings_ = true;
    std::string way = ps->GetProperty("DemogOrHouseholdWay").ToString();
    if (way == "True") {
        IsDemographicWay = true;
    } else if (way.empty()) {
        hasSettings_ = false;
        return;
    } else {
        IsDemographicWay = false;
    }
    savedLevelName_ = ps->GetProperty("DemographyLevelName").ToString();
}

void SelectGeographyLevelDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    ps->SetProperty("DemogOrHouseholdWay", Ctl("DemographicDataOption").Value() ? "True" : "False");
    ps->SetProperty("DemographyLevelName", Ctl("GeographyLevelsList").ListText());
    ps->SetProperty("AnalysisType", "Customer Prospecting");
    ps->SetProperty("AnalysisName", "Customer Prospecting");
}

bool SelectGeographyLevelDialog::HouseholdAvailable() {
    auto& list = Ctl("GeographyLevelsList");
    if (list.ListIndex() < 0) return false;
    std::string level = list.ListText();
    for (auto& e : levelEntries_)
        if (e->name == "CustomerProspecting.Household" && e->caption == level) return true;
    return false;
}

void SelectGeographyLevelDialog::SetDemographicCaption() {
    Ctl("DemographicDataOption").caption = FindString(213) + Ctl("GeographyLevelsList").ListText();
}

void SelectGeographyLevelDialog::UpdateNextButton() {
    Ctl("NextButton").enabled = Ctl("GeographyLevelsList").ListIndex() >= 0;
}

void SelectGeographyLevelDialog::InitializeDialog() {
    auto& list = Ctl("GeographyLevelsList");
    try {
        if (!BusinessDataset) Raise(kErrObjectNotSet, "Object variable or With block variable not set");
        TaskEntryPtr cp;
        for (long i = 0; i < BusinessDataset->TaskCount() && !cp; ++i)
            if (BusinessDataset->Task(i)->name == "CustomerProspecting") cp = BusinessDataset->Task(i);
        if (!cp) Raise(kErrObjectNotSet, "The dataset " + BusinessDataset->name + " has no Customer Prospecting entry");
        levelEntries_ = cp->subEntries;
        for (auto& e : levelEntries_)
            if (e->name == "CustomerProspecting.ByLayer") list.AddItem(e->caption);
        bool available = HouseholdAvailable();
        Ctl("HouseholdDataOption").enabled = available;
        Ctl("HouseholdDataOption").visible = available;
        Ctl("DemographicDataOption").visible = available;
        Ctl("Label2").visible = available;
        if (list.ListCount() > 0) {
            if (hasSettings_) {
                long found = -1;
                for (long i = 0; i < list.ListCount() && found < 0; ++i)
                    if (list.List()[i] == savedLevelName_) found = i;
                if (found < 0) {
                    // The saved level is gone: the first level, and the way
                    // follows the list.
                    list.SetListIndex(0);
                    SetDemographicCaption();
                    return;
                }
                list.SetListIndex(found);
            } else {
                list.SetListIndex(0);
            }
            SetDemographicCaption();
        } else {
            list.enabled = false;
            Ctl("Label2").enabled = false;
            Ctl("DemographicDataOption").enabled = false;
            Ctl("HouseholdDataOption").enabled = false;
            Ctl("NextButton").enabled = false;
            Ctl("Label1").caption = FindString(214);
        }
        bool demographic = !hasSettings_ || IsDemographicWay || !Ctl("HouseholdDataOption").enabled;
        Ctl(demographic ? "DemographicDataOption" : "HouseholdDataOption").SetValue(true);
        IsDemographicWay = demographic;
        UpdateNextButton();
    } catch (const std::exception& e) {
        // The failure is told; a list that got entries still offers the
        // first level, an empty one nothing more.
        forms::MsgBox(e.what(), forms::vbOKOnly, "");
        if (list.ListCount() > 0) {
            list.SetListIndex(0);
            SetDemographicCaption();
        }
    }
}

void SelectGeographyLevelDialog::GeographyLevelsList_Click() {
    SetDemographicCaption();
    bool available = HouseholdAvailable();
    Ctl("HouseholdDataOption").enabled = available;
    Ctl("HouseholdDataOption").visible = available;
    Ctl("DemographicDataOption").visible = available;
    Ctl("Label2").visible = available;
    if (!Ctl("HouseholdDataOption").enabled) Ctl("DemographicDataOption").SetValue(true);
    UpdateNextButton();
}

void SelectGeographyLevelDialog::NextButton_Click() {
    bool demographic = Ctl("DemographicDataOption").Value();
    std::string level = Ctl("GeographyLevelsList").ListText();
    const char* wanted = demographic ? "CustomerProspecting.ByLayer" : "CustomerProspecting.Household";
    SelectedTask = nullptr;
    for (auto& e : levelEntries_) {
        if (e->name == wanted && e->caption == level) {
            SelectedTask = e;
            break;
        }
    }
    if (!SelectedTask) {
        ResMsgBox(215, forms::vbInformation, 198);
        Result = -1;
        return;
    }
    MainLayerName = SelectedTask->Param("MainLayer");
    IsDemographicWay = demographic;
    Result = 1;
    Hide();
}

}  // namespace pxcp
