// "PXCP.PXCPMain": entry task of Customer Prospecting. Shows the geography
// level page, then hands the run to the sub-task of the chosen way.
#pragma once

#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

namespace pxcp {

class PXCPMain : public host::IPXTask {
public:
    PXCPMain();
    ~PXCPMain() override;
    std::string TypeName() const override { return "PXCPMain"; }

    long LastError() override;
    long Status() override;
    host::ObjectPtr PXParamSelector() override;
    host::IPXFunctionPtr PXFunction() override;
    void Cleanup() override;
    void Break() override;
    bool StartFunction() override;
    long DoParamSelector() override;
    bool InitFunction() override;
    bool InitParamSelector() override;
    bool Init(host::DataManagerPtr dataManager, host::gis::ApplicationPtr application) override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    // The sub-task, for the host's inspection.
    host::IPXTaskPtr SubTask() const { return subTask_; }

private:
    long ShowSelectGeographyLevelDialog();

    host::ErrorHandlerPtr errorHandler_;
    long status_ = 1;
    long lastError_ = 0;
    host::IPXTaskPtr subTask_;
    host::DataManagerPtr dataManager_;
    host::gis::ApplicationPtr application_;
    std::vector<host::DatasetPtr> datasets_;
    host::DatasetPtr businessDataset_;
    host::AnalysisPtr sourceAnalysis_;
    host::PropertySetPtr pageSettings_;
    host::TaskEntryPtr mainTask_;
    host::StringListPtr additionalFields_;
    host::StringListPtr additionalFieldsCol_;
    std::string mainLayerName_;
    host::DatasetLayerPtr mainDSLayer_;
};

}  // namespace pxcp
