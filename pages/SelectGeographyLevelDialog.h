// First page of the wizard: the geography level and the way of prospecting.
#pragma once

#include "host/framework/Framework.h"
#include "pages/WizardPage.h"

namespace pxcp {

class SelectGeographyLevelDialog : public WizardPage {
public:
    SelectGeographyLevelDialog();

    int Result = -1;
    host::DatasetPtr BusinessDataset;
    host::TaskEntryPtr SelectedTask;
    std::string MainLayerName;
    bool IsDemographicWay = true;

    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void WriteToPropertySet(const host::PropertySetPtr& ps);
    void InitializeDialog();
    void ResetParams() { Result = -1; }

protected:
    void CreateControls() override;

private:
    bool HouseholdAvailable();
    void SetDemographicCaption();
    void UpdateNextButton();
    void GeographyLevelsList_Click();
    void NextButton_Click();

    std::string savedLevelName_;
    bool hasSettings_ = false;
    std::vector<host::TaskEntryPtr> levelEntries_;
};

}  // namespace pxcp
