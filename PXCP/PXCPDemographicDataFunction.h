// "PXCP.PXCPDemographicDataFunction": writes every area of the demographic
// layer that meets the where-clause within the analysis extent into a new
// feature class, with the additional and query fields and "Match".
#pragma once

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

namespace pxcp {

class PXCPDemographicDataFunction : public host::IPXFunction {
public:
    PXCPDemographicDataFunction();
    ~PXCPDemographicDataFunction() override;
    std::string TypeName() const override { return "PXCPDemographicDataFunction"; }

    bool Start() override;
    bool DoStep() override { return false; }
    long LastError() override { return lastError_; }
    long Status() override { return status_; }
    void Cleanup() override;
    bool Init() override;
    bool SetResultParam(const std::string&, host::Variant&) override { return true; }
    bool SetParam(const std::string& name, host::Variant& value) override;

private:
    bool CreateResultFeatureClass(const host::gis::SpatialReferencePtr& sr);

    host::gis::ApplicationPtr application_;
    host::DataManagerPtr dataManager_;
    host::gis::WorkspacePtr analysisWorkspace_;
    std::string analysisFeatureclassName_;
    std::string queryString_;
    std::string allFields_;
    host::StringListPtr allFieldsCol_;
    host::StringListPtr additionalFieldNames_;
    host::DatasetLayerPtr mainDSLayer_;
    host::gis::SpatialReferencePtr defaultSpatialReference_;
    std::vector<host::gis::FieldPtr> additionalFieldDefs_;
    host::gis::FeatureClassPtr resultFeatureClass_;
    host::ErrorHandlerPtr errorHandler_;
    long lastError_ = 0;
    long status_ = 1;
};

}  // namespace pxcp
