// "PXCP.PXCPDemographicData": the demographic way. Runs the data and name
// pages, creates the analysis, runs the worker and adds, renders and
// reports the output layer.
#pragma once

#include "PXCP/ProspectingSubTask.h"

namespace pxcp {

class SelectDemographicDataDialog;
class CustomerProfileDialog;

class PXCPDemographicData : public ProspectingSubTask {
public:
    PXCPDemographicData();
    std::string TypeName() const override { return "PXCPDemographicData"; }

    bool StartFunction() override;
    long DoParamSelector() override;
    bool InitFunction() override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    static host::gis::RendererPtr CreateSimpleRenderer();
    // What the last run left, for the host's inspection.
    host::gis::FeatureLayerPtr resultLayer;
    host::AnalysisPtr Analysis() const { return analysisInfo_; }

private:
    long ShowSelectDemographicDataDialog();
    void ProcessProfileFunction(CustomerProfileDialog& dialog);

    host::TaskEntryPtr mainTask_;
    std::string mainLayerName_;
    host::DatasetLayerPtr mainDSLayer_;
    host::StringListPtr additionalFieldsCol_;
    std::string demogrLevelName_;
    std::shared_ptr<SelectDemographicDataDialog> dataDialog_;
    std::string queryString_, allFields_;
    host::StringListPtr allFieldsCol_;
    host::AnalysisPtr analysisInfo_;
    host::gis::WorkspacePtr analysisWorkspace_;
    std::string analysisFeatureclassName_, outputPath_, analysisDir_;
};

}  // namespace pxcp
