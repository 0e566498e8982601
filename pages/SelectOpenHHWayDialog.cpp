#include "pages/SelectOpenHHWayDialog.h"

#include <filesystem>

#include "PXCP/PXAnalysisUtils.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;
using forms::ControlKind;

SelectOpenHHWayDialog::SelectOpenHHWayDialog()
    : WizardPage("SelectOpenHHWayDialog", 1300,
                 {"ChangeQueryRBT", "LinkDBFRBT", "LinkDBFFrame", "DBFFileText", "BrowseCommand", "QuillonButton",
                  "NextButton", "BackButton", "CancelButton", "HelpButton", "Frame1", "Image1", "Label1"}) {}

void SelectOpenHHWayDialog::CreateControls() {
    WizardFrame();
    Label("Label1", 286);
    auto& change = Add("ChangeQueryRBT", ControlKind::OptionButton, "287");
    change.group = "way";
    change.onClick = [this] {
        Ctl("BrowseCommand").enabled = false;
        Ctl("LinkDBFFrame").enabled = false;
        UpdateNextButton();
    };
    auto& link = Add("LinkDBFRBT", ControlKind::OptionButton, "288");
    link.group = "way";
    link.onClick = [this] {
        Ctl("LinkDBFFrame").enabled = true;
        Ctl("BrowseCommand").enabled = true;
        UpdateNextButton();
    };
    Add("LinkDBFFrame", ControlKind::Frame, "289");
    auto& text = Add("DBFFileText", ControlKind::TextBox);
    text.container = "LinkDBFFrame";
    text.onChange = [this] { UpdateNextButton(); };
    Button("BrowseCommand", 290, [this] { BrowseCommand_Click(); }).container = "LinkDBFFrame";
    Button("QuillonButton", 280, [this] { OpenURL(Hwnd(), kHouseholdServiceURL); });
    NavigationButtons(result, [this] {
        result = 1;
        Hide();
    });
}

void SelectOpenHHWayDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    std::string way = ps->GetProperty("OpenWay").ToString();
    hasStoredChoice_ = !way.empty();
    changeQuery_ = way.empty() || way == "True";
    dbfPath_ = ps->GetProperty("DBFFilePath").ToString();
    if (!dbfPath_.empty() || sourceAnalysisFolder.empty()) {
        if (!dbfPath_.empty() && !fs::exists(dbfPath_)) dbfPath_.clear();
    } else if (fs::exists(sourceAnalysisFolder + "tmp.dbf")) {
        dbfPath_ = sourceAnalysisFolder + "tmp.dbf";
    }
}

void SelectOpenHHWayDialog::InitializeDialog() {
    if (hasStoredChoice_) {
        Ctl(changeQuery_ ? "ChangeQueryRBT" : "LinkDBFRBT").SetValue(true);
        Ctl("LinkDBFFrame").enabled = !changeQuery_;
        Ctl("BrowseCommand").enabled = !changeQuery_;
    } else {
        Ctl("ChangeQueryRBT").SetValue(true);
        Ctl("LinkDBFFrame").enabled = false;
        Ctl("BrowseCommand").enabled = false;
    }
    Ctl("DBFFileText").SetText(dbfPath_);
    UpdateNextButton();
}

void SelectOpenHHWayDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    ps->SetProperty("OpenWay", Ctl("ChangeQueryRBT").Value() ? "True" : "False");
    ps->SetProperty("DBFFilePath", Ctl("DBFFileText").Text());
}

void SelectOpenHHWayDialog::UpdateNextButton() {
    Ctl("NextButton").enabled = !Ctl("LinkDBFRBT").Value() || !Ctl("DBFFileText").Text().empty();
}

void SelectOpenHHWayDialog::BrowseCommand_Click() {
    forms::FileDialogRequest r;
    r.title = "Select DBF";
    r.filter = "dBASE tables (*.dbf)|*.dbf";
    std::string current = Ctl("DBFFileText").Text();
    if (!current.empty()) {
        FileInfo info;
        info.SetPath(current);
        r.fileName = info.Folder();
    }
    auto chosen = forms::Driver().FileDialog(r);
    Ctl("DBFFileText").SetText(chosen.value_or(""));
    UpdateNextButton();
}

}  // namespace pxcp
