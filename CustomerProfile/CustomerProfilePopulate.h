// How the profile fills the demographic targets: floors, ceilings or both,
// the variance in percent, and whether untouched values are cleared first.
#pragma once

#include <cstdint>

#include "pages/WizardPage.h"

namespace pxcp {

class CustomerProfilePopulate : public WizardPage {
public:
    CustomerProfilePopulate();
    int result = -1;      // -1 cancelled, 0 populate
    int16_t manner = 0;   // 0 floor, 1 ceiling, 2 floor and ceiling
    double variance = 0;  // percent

    void InitializeDialog();
    void ResetParams() { result = -1; }
    // A number from 0 to 100, both ends allowed.
    static bool IsValidVariance(const std::string& text);

protected:
    void CreateControls() override;

private:
    void ShowManner();
};

}  // namespace pxcp
