#include "pages/SmallPages.h"

#include "PXCP/PXAnalysisUtils.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;
using forms::ControlKind;

// ---------------- ShowQueryDialog ----------------

ShowQueryDialog::ShowQueryDialog() : WizardPage("ShowQueryDialog", 1400, {"QueryText", "OkButton"}) {}

void ShowQueryDialog::CreateControls() {
    caption = "248";
    resizable = true;
    auto& text = Add("QueryText", ControlKind::TextBox);
    text.multiLine = true;
    Button("OkButton", 156, [this] {
        Result = -1;
        Hide();
    });
}

void ShowQueryDialog::Form_Resize() {
    if (width < 5415) width = 5415;
    if (height < 3720) height = 3720;
    Ctl("QueryText").width = width - 480;
    Ctl("QueryText").height = height - 1185;
    Ctl("OkButton").top = height - 915;
    Ctl("OkButton").left = width - 1425;
}

// ---------------- FileOptionDialog ----------------

FileOptionDialog::FileOptionDialog()
    : WizardPage("FileOptionDialog", 400, {"FileOptionList", "Frame1", "Label1", "OKButton", "CancelButton", "@FileActionDialog"}) {}

void FileOptionDialog::CreateControls() {
    // Callers may name the page for their own kind of file before it loads.
    if (caption.empty()) caption = "270";
    Add("Frame1", ControlKind::Frame);
    Label("Label1", 157);
    Add("FileOptionList", ControlKind::ListBox).onDblClick = [this] { OKButton_Click(); };
    Add("FileActionDialog", ControlKind::CommonDialog).visible = false;
    Button("OKButton", 156, [this] { OKButton_Click(); });
    Button("CancelButton", 107, [this] { Hide(); });
}

void FileOptionDialog::InitializeDialog() {
    auto& list = Ctl("FileOptionList");
    list.AddItem("Open...");
    list.AddItem("Save As...");
    list.SetListIndex(0);
    FileName.clear();
    Action = -1;
}

void FileOptionDialog::ResetParams() {
    FileName.clear();
    cancelError_ = true;
    Action = -1;
}

void FileOptionDialog::OKButton_Click() {
    try {
        forms::FileDialogRequest r;
        r.filter = "*." + FileExtension + "|*." + FileExtension;
        bool save = Ctl("FileOptionList").ListIndex() == 1;
        r.save = save;
        r.title = save ? "Save " + FileTypeName + "(*." + FileExtension + ")" : "Open " + FileTypeName;
        auto chosen = forms::Driver().FileDialog(r);
        if (!chosen && cancelError_) Raise(forms::kErrCancel, "Cancel was selected.");
        FileName = chosen.value_or("");
        Action = save ? 1 : 0;
        Hide();
    } catch (const std::exception&) {
        // Cancelled: the page stays open and keeps its values.
    }
}

// ---------------- SelectAnalysisNameDialog ----------------

SelectAnalysisNameDialog::SelectAnalysisNameDialog()
    : WizardPage("SelectAnalysisNameDialog", 600,
                 {"AnalysisNameText", "AnalysisCommentText", "Label1", "Label2", "Frame1", "Image1", "HelpButton",
                  "BackButton", "NextButton", "CancelButton"}) {}

void SelectAnalysisNameDialog::CreateControls() {
    WizardFrame();
    Label("Label1", 168);
    Add("AnalysisNameText", ControlKind::TextBox).onChange = [this] { UpdateNext(); };
    Label("Label2", 167);
    Add("AnalysisCommentText", ControlKind::TextBox).multiLine = true;
    NavigationButtons(Result, [this] {
        auto checker = CreateObjectAs<AnalysisNameChecker>("PXDM.PXAnalysisNameChecker");
        std::string name = Ctl("AnalysisNameText").Text();
        if (checker->CheckName(name) != 0) {
            ResMsgBox(169, forms::vbExclamation | forms::vbOKOnly, 158);
            return;
        }
        Result = 1;
        Hide();
    });
}

void SelectAnalysisNameDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    Ctl("AnalysisCommentText").SetText(ps->GetProperty("Comments").ToString());
    Ctl("AnalysisNameText").SetText(ps->GetProperty("Name").ToString());
}

void SelectAnalysisNameDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    ps->SetProperty("Comments", Ctl("AnalysisCommentText").Text());
    ps->SetProperty("Name", Ctl("AnalysisNameText").Text());
}

void SelectAnalysisNameDialog::InitializeDialog() { UpdateNext(); }

void SelectAnalysisNameDialog::UpdateNext() { Ctl("NextButton").enabled = !Ctl("AnalysisNameText").Text().empty(); }

}  // namespace pxcp
