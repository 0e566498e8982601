// What the two ways of prospecting share as sub-tasks of the main task:
// the host objects, the worker and the report task, the task state, and
// the analysis name and report pages that end both wizards.
#pragma once

#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/ErrorHandler.h"
#include "host/framework/Framework.h"

namespace pxcp {

class ProspectingSubTask : public host::IPXTask {
public:
    ~ProspectingSubTask() override;

    long LastError() override;
    long Status() override { return status_; }
    host::ObjectPtr PXParamSelector() override { lastError_ = 0; return nullptr; }
    host::IPXFunctionPtr PXFunction() override { lastError_ = 0; return function_; }
    void Cleanup() override;
    void Break() override { status_ = 1; lastError_ = 0; }
    bool InitParamSelector() override { lastError_ = 0; return true; }
    bool Init(host::DataManagerPtr dataManager, host::gis::ApplicationPtr application) override;

protected:
    // module: the path reported with run-time errors; functionProgId: the worker.
    ProspectingSubTask(const char* module, const char* functionProgId);
    // The analysis name page; on a free name (or the re-opened analysis's
    // own) the report page follows. Returns the page result.
    long ShowSelectAnalysisNameDialog();
    long ShowReportPage();
    // One showing of a page: reset, placed where the last page stood,
    // shown modally, its place and choices kept; returns its result.
    template <class Page>
    long ShowOnce(Page& page) {
        page.ResetParams();
        LoadFormPosition(page, application_, pageSettings_, true);
        page.ShowModal();
        SaveFormPosition(page, pageSettings_);
        long result = page.result;
        page.WriteToPropertySet(pageSettings_);
        return result;
    }

    host::DataManagerPtr dataManager_;
    host::gis::ApplicationPtr application_;
    host::IPXFunctionPtr function_;
    host::IPXTaskPtr reportTask_;
    host::ErrorHandlerPtr errorHandler_;
    host::DatasetPtr businessDataset_;
    host::AnalysisPtr sourceAnalysis_;
    host::PropertySetPtr pageSettings_;
    std::string analysisName_, analysisDescription_;
    long status_ = 1;
    long lastError_ = 0;
    // Where this sub-task's run-time errors are reported.
    const host::ErrorLocation Loc;

private:
    const char* functionProgId_;
};

}  // namespace pxcp
