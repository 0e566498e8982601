#include "CustomerProfile/CustomerProfileNew.h"

#include "PXCP/PXAnalysisUtils.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;
using forms::ControlKind;

CustomerProfileNew::CustomerProfileNew()
    : WizardPage("CustomerProfileNew", 200,
                 {"cmbCustomers", "chkUseSelected", "lLabelNumAttr", "Label2", "ProfileButton", "CancelButton",
                  "HelpButton", "Frame1"}) {}

void CustomerProfileNew::CreateControls() {
    caption = "143";
    Add("Frame1", ControlKind::Frame);
    auto& combo = Add("cmbCustomers", ControlKind::ComboBox);
    combo.onClick = [this] { UpdateSelectionInfo(); };
    combo.onChange = [this] { UpdateSelectionInfo(); };
    Add("chkUseSelected", ControlKind::CheckBox);
    Label("lLabelNumAttr", 0).multiLine = true;
    Label("Label2", 145);
    ProfileButtons(result, "ProfileButton", 144);
}

void CustomerProfileNew::UpdateSelectionInfo() {
    auto layer = cmbCustomers.Layer();
    long selected = layer ? static_cast<long>(layer->selection.size()) : 0;
    long total = 0;
    if (layer && layer->featureClass) {
        gis::QueryFilter all;
        total = layer->featureClass->RowCount(&all);
    }
    auto& box = Ctl("chkUseSelected");
    box.caption = FindString(146) + std::to_string(selected) + FindString(147) + std::to_string(total) + ")";
    box.enabled = selected >= 1;
}

}  // namespace pxcp
