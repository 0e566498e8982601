// The demographic data page: categories, targets with floors and ceilings,
// numbers or percentages, all or any, and the data year.
#pragma once

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"
#include "pages/DemographicQuery.h"
#include "pages/WizardPage.h"

namespace pxcp {

class CustomerProfileDialog;

class SelectDemographicDataDialog : public WizardPage {
public:
    static constexpr int kRows = 8;
    SelectDemographicDataDialog();
    ~SelectDemographicDataDialog() override;

    int result = -1;
    std::string whereClause;
    host::TaskEntryPtr mainTask;
    host::DatasetPtr businessDataset;
    host::DataManagerPtr dataManager;
    host::gis::ApplicationPtr application;
    std::string fieldList;
    host::StringListPtr fieldCollection = std::make_shared<host::StringList>();
    std::shared_ptr<CustomerProfileDialog> profileDialog;  // the customer profile dialog, when one is kept
    host::AnalysisPtr sourceAnalysis;
    host::PropertySetPtr pageSettings;

    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void InitializeDialog();
    void ResetParams() { result = -1; }
    void WriteToPropertySet(const host::PropertySetPtr& ps);
    void SaveDMQFile(const std::string& path);
    void LoadDMQFile(const std::string& path);

    DemographicQuery& Model() { return model_; }
    // Reads the page's year option and selection, so it needs the loaded page.
    std::string ShowQuery();

protected:
    void CreateControls() override;
    void Form_Activate() override;

private:
    void ShowCategoryTargets(long index);
    void ClearTargetRows();
    void SetDefaultOptions();
    void SaveValues(long category);
    void SyncOptionControls();
    void OnBoxChange(const std::string& box, int row);
    void OnBoxValidate(const std::string& box, int row, bool& cancel);
    void NextButton_Click();
    void SelectNoneButton_Click();
    void ProfileButton_Click();
    void PopulateFromProfile(const std::shared_ptr<CustomerProfileDialog>& dialog);
    void RestoreControls();
    void ShowLevelCaption();
    void SelectCategoriesQuietly(const std::vector<long>& categories);
    void ShowFirstSelectedCategory();
    void ShowFileOptionDialog();
    std::vector<bool> Selection();
    std::string DatasetName() const;

    DemographicQuery model_;
    long currentCategory_ = 0;
    host::StringListPtr years_;
    std::string dmqFilePath_;
    bool loadDmqOnInit_ = false;
    bool listClickEnabled_ = true;
    std::vector<bool> keptSelection_;  // the list's selection while the page is unloaded
    host::ErrorHandlerPtr errorHandler_;
};

}  // namespace pxcp
