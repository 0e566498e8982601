// "PXCP.PXCPDemographicData": the demographic way. Runs the data and name
// pages, creates the analysis, runs the worker and adds, renders and
// reports the output layer.
#pragma once

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

namespace pxcp {

class SelectDemographicDataDialog;
class CustomerProfileDialog;

class PXCPDemographicData : public host::IPXTask {
public:
    PXCPDemographicData();
    ~PXCPDemographicData() override;
    std::string TypeName() const override { return "PXCPDemographicData"; }

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
    // What the last run left, for the host's inspection.
    host::gis::FeatureLayerPtr resultLayer;
    host::AnalysisPtr Analysis() const { return analysisInfo_; }

private:
    long ShowSelectDemographicDataDialog();
    long ShowSelectAnalysisNameDialog();
    long ShowReportPage();
    void ProcessProfileFunction(CustomerProfileDialog& dialog);

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
    host::StringListPtr additionalFieldsCol_;
    std::string demogrLevelName_;
    std::shared_ptr<SelectDemographicDataDialog> dataDialog_;
    std::string analysisName_, queryString_, allFields_;
    host::StringListPtr allFieldsCol_;
    host::AnalysisPtr analysisInfo_;
    host::gis::WorkspacePtr analysisWorkspace_;
    std::string analysisFeatureclassName_, outputPath_, analysisDir_;
    long status_ = 1;
    long lastError_ = 0;
};

}  // namespace pxcp
