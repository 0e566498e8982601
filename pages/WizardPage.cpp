#include "pages/WizardPage.h"

#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/Resources.h"
#include "host/platform/Locale.h"
#include "host/platform/Platform.h"
#include "i18n/modi18N.h"

namespace pxcp {

using host::forms::Control;
using host::forms::ControlKind;

WizardPage::WizardPage(std::string name, int layoutFirstId, std::vector<std::string> layoutOrder)
    : Form(std::move(name)), layoutFirstId_(layoutFirstId), layoutOrder_(std::move(layoutOrder)) {}

void WizardPage::Form_Load() {
    SetFormFont(*this);
    LocalizeForm(*this);
    ApplyLayout();
}

void WizardPage::ApplyLayout() {
    auto lib = host::CreateObjectAs<host::ResourceLibrary>("PXCPGuiRes.clsFindResource");
    auto value = [&](int id) -> std::optional<double> {
        try {
            auto v = host::platform::ParseCNumber(lib->FindString(static_cast<int>(static_cast<int16_t>(id))));
            if (!v) return std::nullopt;
            return static_cast<float>(*v);
        } catch (...) {
            return std::nullopt;
        }
    };
    auto& screen = host::platform::Screen();
    int id = layoutFirstId_;
    if (auto h = value(id++)) height = *h - 315 + screen.captionHeightPixels * screen.twipsPerPixelY;
    if (auto w = value(id++)) width = *w;
    for (const std::string& entry : layoutOrder_) {
        bool positionOnly = !entry.empty() && entry[0] == '@';
        std::string spec = positionOnly ? entry.substr(1) : entry;
        int index = -1;
        std::string name = spec;
        if (auto open = spec.find('('); open != std::string::npos) {
            name = spec.substr(0, open);
            index = std::stoi(spec.substr(open + 1));
        }
        Control* c = HasControl(name, index) ? &Ctl(name, index) : nullptr;
        if (positionOnly) {
            auto l = value(id++), t = value(id++);
            if (c && l) c->left = *l;
            if (c && t) c->top = *t;
            continue;
        }
        auto h = value(id++), l = value(id++), t = value(id++), w = value(id++);
        if (!c) continue;
        if (h) c->height = *h;
        if (l) c->left = *l;
        if (t) c->top = *t;
        if (w) c->width = *w;
    }
}

Control& WizardPage::Button(const std::string& name, int captionId, std::function<void()> onClick) {
    Control& c = Add(name, ControlKind::CommandButton, std::to_string(captionId));
    c.toolTipText = std::to_string(captionId);
    c.onClick = std::move(onClick);
    return c;
}

Control& WizardPage::Label(const std::string& name, int captionId, int index) {
    return Add(name, ControlKind::Label, captionId ? std::to_string(captionId) : "", index);
}

void WizardPage::WizardFrame() {
    caption = "269";
    Add("Frame1", ControlKind::Frame);
    Add("Image1", ControlKind::Image).picture = "wizard";
}

void WizardPage::NavigationButtons(int& result, std::function<void()> onNext) {
    Button("HelpButton", 106, [this] { ShowHelp(kHelpFile, kHelpProspecting, Hwnd()); });
    Button("BackButton", 160, [this, &result] {
        result = 2;
        Hide();
    });
    Button("NextButton", 161, std::move(onNext));
    Button("CancelButton", 162, [this, &result] {
        result = -1;
        Hide();
    });
}

void WizardPage::ProfileButtons(int& result, const std::string& actionName, int captionId, std::function<void()> onAction) {
    Button(actionName, captionId, [this, &result, onAction = std::move(onAction)] {
        if (onAction) onAction();
        result = 0;
        Hide();
    });
    Button("CancelButton", 107, [this, &result] {
        result = -1;
        Hide();
    });
    Button("HelpButton", 106, [this] { ShowHelp(kHelpFile, kHelpProfile, Hwnd()); });
}

}  // namespace pxcp
