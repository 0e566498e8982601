#include "PXCP/ProspectingSubTask.h"

#include "PXCP/PXAnalysisUtils.h"
#include "i18n/modi18N.h"
#include "pages/SmallPages.h"

namespace pxcp {

using namespace host;

ProspectingSubTask::ProspectingSubTask(const char* module, const char* functionProgId)
    : Loc(module), functionProgId_(functionProgId) {
    PX_TRY
    errorHandler_ = NewErrorHandler();
    PX_CATCH(errorHandler_, Loc("Class_Initialize"))
}

ProspectingSubTask::~ProspectingSubTask() {
    PX_TRY
    function_.reset();
    dataManager_.reset();
    application_.reset();
    reportTask_.reset();
    PX_CATCH(errorHandler_, Loc("Class_Terminate"))
}

long ProspectingSubTask::LastError() { return function_ && lastError_ == 0 ? function_->LastError() : lastError_; }

void ProspectingSubTask::Cleanup() {
    function_.reset();
    status_ = 1;
    lastError_ = 0;
}

bool ProspectingSubTask::Init(DataManagerPtr dataManager, gis::ApplicationPtr application) {
    bool ok = false;
    PX_TRY
    dataManager_ = std::move(dataManager);
    application_ = std::move(application);
    function_ = CreateObjectAs<IPXFunction>(functionProgId_);
    reportTask_ = CreateObjectAs<IPXTask>("PXReports.PXSelectReportTask");
    businessDataset_ = GetCurrentDataset(application_);
    status_ = 1;
    lastError_ = 0;
    ok = function_ != nullptr;
    PX_CATCH(errorHandler_, Loc("IPXTask_Init"))
    return ok;
}

long ProspectingSubTask::ShowSelectAnalysisNameDialog() {
    SelectAnalysisNameDialog page;
    page.ReadFromPropertySet(pageSettings_);
    page.InitializeDialog();
    long result = -1;
    for (;;) {
        page.ResetParams();
        LoadFormPosition(page, application_, pageSettings_, true);
        page.ShowModal();
        SaveFormPosition(page, pageSettings_);
        page.WriteToPropertySet(pageSettings_);
        result = page.Result;
        if (result != 1) break;
        try {
            Variant ps(pageSettings_);
            reportTask_->SetParam("PropertySet", ps);
        } catch (...) {
            ReportException(errorHandler_, Loc("ShowSelectAnalysisNameDialog"));
            break;
        }
        std::string name = page.Ctl("AnalysisNameText").Text();
        if (!dataManager_->AnalysisExists(name) || (sourceAnalysis_ && sourceAnalysis_->Name() == name)) {
            analysisName_ = name;
            analysisDescription_ = page.Ctl("AnalysisCommentText").Text();
            // The report page's answer is the page result: Back there goes
            // back past this page to the one before it.
            result = ShowReportPage();
            break;
        }
        forms::MsgBox(FindString(260) + name, forms::vbInformation, FindString(255));
    }
    page.Unload();
    return result;
}

long ProspectingSubTask::ShowReportPage() {
    if (!reportTask_->Init(dataManager_, application_) || !reportTask_->InitParamSelector()) {
        lastError_ = 47;
        return 0;
    }
    return reportTask_->DoParamSelector();
}

}  // namespace pxcp
