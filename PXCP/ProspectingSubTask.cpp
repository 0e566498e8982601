#include "PXCP/ProspectingSubTask.h"

#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/PXAnalysisUtils.h"
#include "host/forms/Forms.h"
#include "host/framework/ParamTable.h"
#include "host/gis/QgisStyle.h"
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

long ProspectingSubTask::DoParamSelector() {
    long r = 0;
    PX_TRY
    r = ShowPages();
    status_ = 1;
    lastError_ = 0;
    PX_CATCH(errorHandler_, Loc("IPXTask_DoParamSelector"))
    return r;
}

bool ProspectingSubTask::SetSharedParam(const std::string& name, const Variant& value) {
    return SetBoundParam({{"SourceAnalysis", sourceAnalysis_},
                          {"PropertySet", pageSettings_},
                          {"CustomerProspectingTask", mainTask_},
                          {"MainLayerName", mainLayerName_},
                          {"MainDSLayer", mainDSLayer_},
                          {"DemogrLevelName", demogrLevelName_}},
                         name, value);
}

bool ProspectingSubTask::TakeAnalysisName(int captionId) {
    if (dataManager_->HoldsName(analysisName_) || dataManager_->TryHoldName(analysisName_)) return true;
    forms::MsgBox(NameHeldText(analysisName_), forms::vbExclamation, FindString(captionId));
    return false;
}

bool ProspectingSubTask::NameIsTaken(int captionId) {
    // Another run may have taken the name since the name page was left.
    if (ReplacesSourceAnalysis() || !dataManager_->AnalysisExists(analysisName_)) return false;
    ResMsgBox(254, forms::vbExclamation, captionId);
    return true;
}

AnalysisPtr ProspectingSubTask::KeepSourceAnalysisAside() {
    auto old = dataManager_->GetAnalysis(analysisName_);
    if (old) dataManager_->SetAside(analysisName_);
    return old;
}

void ProspectingSubTask::RemoveSourceAnalysis() {
    sourceAnalysis_.reset();
    if (dataManager_->AnalysisExists(analysisName_) && !dataManager_->RemoveAnalysis(analysisName_))
        forms::MsgBox(FindString(256) + analysisName_, forms::vbExclamation, FindString(250));
}

void ProspectingSubTask::OpenAnalysisOutput() {
    outputPath_ = analysisInfo_->OutputPath();
    auto info = CreateObjectAs<FileInfo>("PXDM.PXFileInfo");
    info->SetPath(outputPath_);
    analysisDir_ = info->Folder();
    analysisFeatureclassName_ = info->FileName();
    analysisWorkspace_ = OpenAnalysisWorkspace(info, application_);
}

void ProspectingSubTask::KeepAnalysisSettings(const char* areaKey, const ExtensionPtr& extension) {
    if (!pageSettings_) return;
    pageSettings_->SetProperty("AreaID", areaKey);
    pageSettings_->SetProperty("StoreID", areaKey);
    pageSettings_->SetProperty("AreaDesc", areaKey);
    pageSettings_->SetProperty("AnalysisDir", analysisDir_);
    analysisInfo_->SetProperties(pageSettings_);
    if (extension) extension->RunningAnalysisProperties()->SetProperty("AnalysisProperties", pageSettings_);
}

bool ProspectingSubTask::RunWorker() {
    auto progress = CreateObjectAs<FunctionRunner>("PXKernel.PXFunctionRunner");
    long code = progress->Run(*function_, "Clock AVI", "Analysis", "Executing analysis...");
    if (code == FunctionRunner::kCompleted) {
        long err = function_->LastError();
        if (err == 0) return true;
        // The worker's class is its ProgID without the library's prefix.
        std::string worker = functionProgId_;
        worker = worker.substr(worker.find('.') + 1);
        errorHandler_->Report(Loc("IPXTask_StartFunction"), err, worker, WorkerErrorText(err));
    } else if (code == FunctionRunner::kCancelled) {
        ResMsgBox(257, forms::vbExclamation, 250);
    } else if (code == FunctionRunner::kFailed) {
        ResMsgBox(258, forms::vbInformation, 250);
    }
    RemoveAnalysis(analysisName_, application_);
    return false;
}

gis::FeatureClassPtr ProspectingSubTask::OpenOutput() {
    try {
        // Complete now: in a database the output takes the place of the old one.
        analysisWorkspace_->CommitDataset(analysisFeatureclassName_);
        auto output = analysisWorkspace_->OpenFeatureClass(analysisFeatureclassName_);
        // Listed at once, so that a run stopped before the end takes it along.
        if (auto a = dataManager_->GetAnalysis(analysisName_)) a->ExpectLayer(output->DataPath());
        return output;
    } catch (...) {
        ReportException(errorHandler_, Loc("IPXTask_StartFunction"));
        return nullptr;
    }
}

void ProspectingSubTask::RegisterOutput(const char* areaKey) {
    // The output opens in QGIS drawn as on our map; without its style it
    // is still the analysis's output.
    try {
        gis::SaveQgisStyle(*resultLayer);
    } catch (...) {
        ReportException(errorHandler_, Loc("IPXTask_StartFunction"));
    }
    if (!RunReportTask(*reportTask_, dataManager_, analysisName_, resultLayer, areaKey)) lastError_ = 47;
    if (auto a = dataManager_->GetAnalysis(analysisName_)) a->AddLayer(resultLayer->featureClass->DataPath());
    dataManager_->Refresh();
}

}  // namespace pxcp
