#include "CustomerProfile/CustomerProfilePopulate.h"

#include "PXCP/PXAnalysisUtils.h"
#include "host/platform/Locale.h"

namespace pxcp {

using namespace host;
using forms::ControlKind;

CustomerProfilePopulate::CustomerProfilePopulate()
    : WizardPage("CustomerProfilePopulate", 300,
                 {"optFloor", "optCeiling", "optFloorAndCeiling", "txtVariance", "chkClear", "LabelNumAttr", "Label1",
                  "Label2", "PopulateButton", "CancelButton", "HelpButton", "Frame1", "Frame2"}) {}

void CustomerProfilePopulate::CreateControls() {
    caption = "148";
    Add("Frame1", ControlKind::Frame);
    Add("Frame2", ControlKind::Frame);
    const char* options[] = {"optFloor", "optCeiling", "optFloorAndCeiling"};
    const int captions[] = {151, 150, 149};
    for (int16_t m = 0; m < 3; ++m) {
        auto& o = Add(options[m], ControlKind::OptionButton, std::to_string(captions[m]));
        o.group = "Manner";
        o.onClick = [this, m] { manner = m; };
    }
    auto& text = Add("txtVariance", ControlKind::TextBox);
    text.onChange = [this] { Ctl("PopulateButton").enabled = IsValidVariance(Ctl("txtVariance").Text()); };
    Add("chkClear", ControlKind::CheckBox, "120");
    Label("LabelNumAttr", 0).multiLine = true;
    Label("Label1", 154);
    Label("Label2", 153);
    ProfileButtons(result, "PopulateButton", 152,
                   [this] { variance = platform::ParseLocaleNumber(Ctl("txtVariance").Text()).value_or(0); });
}

void CustomerProfilePopulate::InitializeDialog() {
    result = -1;
    ShowManner();
}

void CustomerProfilePopulate::ShowManner() {
    const char* options[] = {"optFloor", "optCeiling", "optFloorAndCeiling"};
    int16_t keep = manner;
    for (const char* o : options) Ctl(o).SetValue(false);
    if (keep >= 0 && keep < 3) Ctl(options[keep]).SetValue(true);
    manner = keep;
    // The whole variance is selected, ready to be typed over.
    auto& text = Ctl("txtVariance");
    text.selStart = 0;
    text.selLength = static_cast<long>(text.Text().size());
}

bool CustomerProfilePopulate::IsValidVariance(const std::string& text) {
    auto v = platform::ParseLocaleNumber(text);
    return v && *v >= 0 && *v <= 100;
}

}  // namespace pxcp
