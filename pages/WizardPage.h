// Common ground of the wizard pages: on load the page's fonts follow the
// user's code page, resource ids become texts and the layout library places
// every control.
#pragma once

#include <string>
#include <vector>

#include "host/forms/Forms.h"

namespace pxcp {

class WizardPage : public host::forms::Form {
public:
    // layoutFirstId: the page's first layout id (its height); layoutOrder:
    // the controls in the order of the layout ids ("Name" or "Name(i)"),
    // with "@Name" for controls that only have a position (two ids).
    WizardPage(std::string name, int layoutFirstId, std::vector<std::string> layoutOrder);

protected:
    void Form_Load() override;
    virtual void ApplyLayout();
    // Design-time helpers: captions and tooltips hold resource ids.
    host::forms::Control& Button(const std::string& name, int captionId, std::function<void()> onClick);
    host::forms::Control& Label(const std::string& name, int captionId, int index = -1);
    // The title, frame and picture every page of the wizard opens with.
    void WizardFrame();
    // The row every wizard page ends with: Help (the prospecting topic),
    // Back (result 2), Next (onNext) and Cancel (result -1); Back and Cancel
    // hide the page.
    void NavigationButtons(int& result, std::function<void()> onNext);
    // The row of the profile's small dialogs: the action (onAction, then
    // result 0) and Cancel (result -1), both hiding the dialog, and Help
    // (the profile topic).
    void ProfileButtons(int& result, const std::string& actionName, int captionId, std::function<void()> onAction = {});

private:
    int layoutFirstId_;
    std::vector<std::string> layoutOrder_;
};

}  // namespace pxcp
