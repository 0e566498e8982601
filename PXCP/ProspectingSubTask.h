// What the two ways of prospecting share as sub-tasks of the main task:
// the host objects, the worker and the report task, the task state, the
// parameters the main task passes, the analysis name and report pages that
// end both wizards, making the analysis and its output, and running the
// worker.
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
    // Shows the way's pages (ShowPages); returns the page result.
    long DoParamSelector() override;

    // What the last run left, for the host's inspection: the output layer
    // and the analysis it belongs to.
    host::gis::FeatureLayerPtr resultLayer;
    host::AnalysisPtr Analysis() const { return analysisInfo_; }
    const std::string& AnalysisName() const { return analysisName_; }

protected:
    // module: the path reported with run-time errors; functionProgId: the worker.
    ProspectingSubTask(const char* module, const char* functionProgId);
    // The pages of the way, from its first to the report page.
    virtual long ShowPages() = 0;
    // The parameters both ways take from the main task: the analysis
    // re-opened, the page settings, the task entry, the level's layer and
    // its name. False for any other name.
    bool SetSharedParam(const std::string& name, const host::Variant& value);

    // Making the analysis. TakeAnalysisName holds the name for this run
    // (other processes may share the analyses folder): false, and the
    // analyst told under the caption, while another run holds it. From then
    // on the data manager shows the folder as it is. NameIsTaken tells the
    // analyst when the run would take the name of another analysis.
    bool TakeAnalysisName(int captionId);
    bool NameIsTaken(int captionId);
    bool ReplacesSourceAnalysis() const { return sourceAnalysis_ && sourceAnalysis_->Name() == analysisName_; }
    // The analysis being replaced as the folder holds it now (null when
    // another run removed it meanwhile); a copy of it is kept until the
    // run ends, to come back should the run fail (DataManager::SetAside).
    host::AnalysisPtr KeepSourceAnalysisAside();
    // Removes the analysis being replaced (its output is the caller's).
    void RemoveSourceAnalysis();
    // Where the worker writes: the output path of the new analysis, its
    // folder, feature class name and workspace.
    void OpenAnalysisOutput();
    // The page settings become the analysis's properties and, through the
    // extension, the running analysis's; areaKey names the output's key
    // field for the report.
    void KeepAnalysisSettings(const char* areaKey, const host::ExtensionPtr& extension);

    // Runs the worker through the function runner. True when it completed
    // without an error; otherwise the analyst is told why, the analysis is
    // removed and false returned.
    bool RunWorker();
    // The output the worker wrote; null, reported, when it cannot be opened.
    host::gis::FeatureClassPtr OpenOutput();
    // The analyst's words for an outcome code of the worker.
    virtual std::string WorkerErrorText(long code) = 0;
    // Saves the output's look as its QGIS style, reports on the output
    // (resultLayer, already on the map) and registers it with the analysis.
    void RegisterOutput(const char* areaKey);
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
    host::TaskEntryPtr mainTask_;
    std::string mainLayerName_;
    host::DatasetLayerPtr mainDSLayer_;
    std::string demogrLevelName_;
    host::AnalysisPtr analysisInfo_;
    std::string outputPath_, analysisFeatureclassName_, analysisDir_;
    host::gis::WorkspacePtr analysisWorkspace_;
    long status_ = 1;
    long lastError_ = 0;
    // Where this sub-task's run-time errors are reported.
    const host::ErrorLocation Loc;

private:
    const char* functionProgId_;
};

}  // namespace pxcp
