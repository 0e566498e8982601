// The customer profile page: the characteristics that can be profiled, the
// ticks, the average per characteristic of the last profile, and the way
// from a profile to floors and ceilings. The page never computes a profile
// itself: it hides with a request that its owner carries out.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "CustomerProfile/CustomerProfileFile.h"
#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"
#include "host/gis/Map.h"
#include "host/platform/Printer.h"
#include "pages/WizardPage.h"

namespace pxcp {

// The characteristic rows of a catalogue for one year, as the profile page
// lists them: one per profiled target of each profiled category, unticked
// and without a value; "3" tells whether the target's field for the year is
// among fields. The list ends at the first target without a field name for
// the year; its category and target ids then go to lacking.
struct CharacteristicRows {
    host::CollectionPtr rows = std::make_shared<host::Collection>();
    std::pair<std::string, std::string> lacking;  // empty when every target has one
};
CharacteristicRows MakeCharacteristicRows(const host::TaskEntry& mainTask, const host::gis::Fields* fields,
                                          int16_t yearIndex);

class CustomerProfileDialog : public WizardPage {
public:
    CustomerProfileDialog();
    ~CustomerProfileDialog() override;

    long closeCode = -1;  // -1 cancel, close or populate; 0 new profile
    host::TaskEntryPtr mainTask;
    host::DatasetPtr businessDataset;
    int16_t m_nYearIndex = 1;
    int16_t m_nLastYearIndex = 1;
    host::DataManagerPtr dataManager;
    host::gis::ApplicationPtr application;
    bool m_bNumbersOption = true;
    std::string m_sCustomerLayerName;
    host::gis::FeatureLayerPtr m_pCustomerDataset;
    bool m_bSelected = false;
    bool m_bNewProfilePushed = false;
    bool m_bPopulateProfilePushed = false;
    host::CollectionPtr m_popul_col;  // {"0" category, "1" target, "2" value} per row
    bool m_bClearBefore = false;
    double m_dOffset = 0;
    int16_t m_nManner = 0;  // 0 floor, 1 ceiling, 2 floor and ceiling
    host::CollectionPtr m_pStateCol = std::make_shared<host::Collection>();
    host::DataQueryPtr m_pDataQuery;
    std::string m_sLayerID;

    void InitializeDialog();
    void ReadFromPropertySet(const host::PropertySetPtr& ps);
    void WriteToPropertySet(const host::PropertySetPtr& ps);
    void ResetParams();
    void PrintRecord(host::platform::Printer& printer, long gridRow);
    bool LoadCPFFile(const std::string& path);
    void SaveCPFFile(const std::string& path);
    void ShowFileOptionDialog();

    const std::string& LayerDisplayName() const { return layerName_; }
    const std::string& ProfilePath() const { return cpfPath_; }
    int16_t SavedManner() const { return savedManner_; }
    int16_t SavedVariance() const { return savedVariance_; }

protected:
    void CreateControls() override;
    bool Form_QueryUnload() override;

private:
    void LoadCharacteristics();
    void FillGrid();
    void ShowCheckMarks();
    void ShowSelectedCount();
    void Grid_Click();
    void SelectAll(bool profiledOnly);
    void SelectNone();
    void NewButton_Click();
    void PopulateButton_Click();
    void TableButton_Click();
    void PrintButton_Click();
    void CollectPopulateRows();
    void ClearProfileValues();
    long TickedCount(bool availableOnly);
    std::string YearCaption() const;
    host::CollectionPtr Row(long key) const;
    CustomerProfileState State();

    std::string layerName_;
    int16_t savedManner_ = 0;
    int16_t savedVariance_ = 0;
    std::string cpfPath_;
    host::ErrorHandlerPtr errorHandler_;
};

}  // namespace pxcp
