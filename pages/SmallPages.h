// The small shared pages: the query read-out, the Open/Save choice for
// query and profile files, and the analysis name page.
#pragma once

#include "host/framework/Framework.h"
#include "pages/WizardPage.h"

namespace pxcp {

class ShowQueryDialog : public WizardPage {
public:
    ShowQueryDialog();
    int Result = -1;
    void ResetParams() { Result = -1; }

protected:
    void CreateControls() override;
    void Form_Resize() override;
};

class FileOptionDialog : public WizardPage {
public:
    FileOptionDialog();
    host::gis::ApplicationPtr application;
    std::string FileTypeName;
    std::string FileExtension;
    std::string FileName;
    int Action = -1;
    void InitializeDialog();
    void ResetParams();

protected:
    void CreateControls() override;

private:
    void OKButton_Click();
    bool cancelError_ = true;
};

class SelectAnalysisNameDialog : public WizardPage {
public:
    SelectAnalysisNameDialog();
    int Result = -1;
    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void WriteToPropertySet(const host::PropertySetPtr& ps);
    void InitializeDialog();
    void ResetParams() { Result = -1; }

protected:
    void CreateControls() override;

private:
    void UpdateNext();
};

}  // namespace pxcp
