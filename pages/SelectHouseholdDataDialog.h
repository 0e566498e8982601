// The household data page: household categories and their targets, the
// minimum target (households or percent) and whether to wait for the
// household-data service. Holds the household query, its service strings,
// its read-out and its ".hhq" file.
#pragma once

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"
#include "pages/WizardPage.h"

namespace pxcp {

class SelectHouseholdDataDialog : public WizardPage {
public:
    SelectHouseholdDataDialog();

    int result = -1;
    // Set by the sub-task before the page opens.
    host::TaskEntryPtr mainTask;
    host::gis::ApplicationPtr application;
    host::DataManagerPtr dataManager;
    host::AnalysisPtr sourceAnalysis;
    host::DatasetPtr businessDataset;
    std::string mainLayerName;
    std::string studyAreaDataset;
    // Read by the sub-task after Next.
    std::string geogField, qFields, qList;

    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void InitializeDialog();
    void ResetParams() { result = -1; }
    void WriteToPropertySet(const host::PropertySetPtr& ps);

    bool BuildHouseholdQuery(std::string& geography, std::string& fields, std::string& list);
    std::string ShowQuery();
    void SaveHHQFile(const std::string& path);
    void LoadHHQFile(const std::string& path);

    // The query model: one collection per category, as the list holds them.
    const std::vector<host::CollectionPtr>& Categories() const { return categories_; }
    static long TargetCount(const host::Collection& c) { return (c.Count() - 2) / 3; }
    static bool IsCategoryEmpty(const host::Collection& c);
    // The service's geography code of a main layer ("COUNTY", ...); empty when unknown.
    static std::string GeographyCode(const std::string& mainLayerName, const std::string& levelName);

protected:
    void CreateControls() override;

private:
    void FillTargetList(long index);
    void CategoryList_Click();
    void TargetList_Click();
    void SelectNoneCategories();
    void SelectNoneTargets();
    void MinimumTargetText_Change();
    void NextButton_Click();
    void ShowFileOptionDialog();
    void SetTarget(long category, long n, int value);

    std::vector<host::CollectionPtr> categories_;
    std::string hhqFilePath_;
    bool guard_ = false;
    host::ErrorHandlerPtr errorHandler_;
};

}  // namespace pxcp
