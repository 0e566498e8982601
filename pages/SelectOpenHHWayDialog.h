// First page when a household analysis is re-opened: change the query, or
// link a DBF (typically the table the service produced for a job that was
// submitted without waiting).
#pragma once

#include "host/framework/Framework.h"
#include "pages/WizardPage.h"

namespace pxcp {

class SelectOpenHHWayDialog : public WizardPage {
public:
    SelectOpenHHWayDialog();
    int result = -1;
    host::DataManagerPtr dataManager;
    host::ExtensionPtr extension;
    std::string sourceAnalysisFolder;  // with a trailing separator

    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void InitializeDialog();
    void WriteToPropertySet(const host::PropertySetPtr& ps);
    void ResetParams() { result = -1; }

protected:
    void CreateControls() override;

private:
    void UpdateNextButton();
    void BrowseCommand_Click();

    bool changeQuery_ = true;
    bool hasStoredChoice_ = false;
    std::string dbfPath_;
};

}  // namespace pxcp
