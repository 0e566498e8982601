// The question before a new profile: which customer layer, and whether
// only its selected customers count.
#pragma once

#include "host/framework/LayerPicker.h"
#include "pages/WizardPage.h"

namespace pxcp {

class CustomerProfileNew : public WizardPage {
public:
    CustomerProfileNew();
    int result = -1;  // -1 cancelled, 0 profile
    host::LayerPicker cmbCustomers;

    void InitializeDialog() { UpdateSelectionInfo(); }
    void ResetParams() { result = -1; }
    // The selected and total customers of the chosen layer.
    void UpdateSelectionInfo();

protected:
    void CreateControls() override;
};

}  // namespace pxcp
