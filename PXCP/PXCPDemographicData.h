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
    bool InitFunction() override;
    bool SetParam(const std::string& name, host::Variant& value) override;

    static host::gis::RendererPtr CreateSimpleRenderer();

protected:
    long ShowPages() override { return ShowSelectDemographicDataDialog(); }
    std::string WorkerErrorText(long code) override;

private:
    long ShowSelectDemographicDataDialog();
    void ProcessProfileFunction(CustomerProfileDialog& dialog);

    host::StringListPtr additionalFieldsCol_;
    std::shared_ptr<SelectDemographicDataDialog> dataDialog_;
    std::string queryString_, allFields_;
    host::StringListPtr allFieldsCol_;
};

}  // namespace pxcp
