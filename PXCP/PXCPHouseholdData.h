// "PXCP.PXCPHouseholdData": the household way. Runs the open-way, login,
// household data and name pages, creates the analysis, runs the worker and
// adds the output in five classes of PERCENT (or, for a job that was not
// waited for, in one colour, telling the analyst the job id).
#pragma once

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

namespace pxcp {

class SelectHouseholdDataDialog;

class PXCPHouseholdData : public host::IPXTask {
public:
    PXCPHouseholdData();
    ~PXCPHouseholdData() override;
    std::string TypeName() const override { return "PXCPHouseholdData"; }

    long LastError() override;
    long Status() override { return status_; }
    host::ObjectPtr PXParamSelector() override { lastError_ = 0; return nullptr; }
    host::IPXFunctionPtr PXFunction() override { lastError_ = 0; return function_; }
    void Cleanup() override;
    void Break() override { status_ = 1; lastError_ = 0; }
    bool StartFunction() override;
    long DoParamSelector() override;
    bool InitFunction() override;
    bool InitParamSelector() override { lastError_ = 0; return true; }
    bool Init(host::DataManagerPtr dataManager, host::gis::ApplicationPtr application) override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    static host::gis::RendererPtr CreateSimpleRenderer();
    // Five classes of the field at that position, from the gallery's ramp
    // or the default green one.
    static host::gis::RendererPtr CreateRenderer(const host::gis::FeatureClassPtr& featureClass, long fieldPosition);

    // What the last run left, for the host's inspection.
    host::gis::FeatureLayerPtr resultLayer;
    std::string jobId;
    std::string errorText;

private:
    long ShowSelectOpenHHWay();
    long ShowLoginToQuillonDialog();
    long ShowSelectHouseholdDataDialog();
    void MakeDataDialog();
    long ShowSelectAnalysisNameDialog();
    long ShowReportPage();
    void AddResultLayer();

    host::DataManagerPtr dataManager_;
    host::gis::ApplicationPtr application_;
    host::IPXFunctionPtr function_;
    host::IPXTaskPtr reportTask_;
    host::ErrorHandlerPtr errorHandler_;
    host::DatasetPtr businessDataset_;
    host::AnalysisPtr sourceAnalysis_;
    host::PropertySetPtr pageSettings_;
    host::TaskEntryPtr mainTask_;
    std::string mainLayerName_;
    host::DatasetLayerPtr mainDSLayer_;
    std::string demogrLevelName_;
    std::string analysisName_, analysisDescription_;
    std::string geogField_, qFields_, qList_, userName_, password_;
    bool isNumberTarget_ = true, wait_ = true, changeQuery_ = true;
    double minimumTarget_ = 0;
    std::string dbfFilePath_;
    std::shared_ptr<SelectHouseholdDataDialog> dataDialog_;
    host::AnalysisPtr analysisInfo_;
    std::string outputPath_, analysisFeatureclassName_, analysisDir_;
    host::gis::WorkspacePtr analysisWorkspace_;
    host::gis::FeatureClassPtr resultFeatureClass_;
    long status_ = 1;
    long lastError_ = 0;
};

}  // namespace pxcp
