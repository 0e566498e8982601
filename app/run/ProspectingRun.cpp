#include "app/run/ProspectingRun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "PXCP/PXCPHouseholdData.h"
#include "PXCP/PXCPMain.h"
#include "PXCP/ProspectingSubTask.h"
#include "host/framework/AnalysisList.h"
#include "host/framework/ErrorHandler.h"
#include "pages/SelectGeographyLevelDialog.h"

namespace fs = std::filesystem;

namespace plexa {

using namespace host;

namespace {

// The workers' code for a run that found no area to keep.
constexpr long kNoAreaFound = 35;

// Runs the analysis the pages set up; false when it did not complete.
bool RunFunction(IPXTask& task, ProspectingOutcome& out) {
    size_t made = ErrorHandler::Log().size();
    try {
        if (!task.InitFunction()) return false;
        // A run-time error while the analysis was being made (a full disk,
        // a folder that cannot be written) leaves nothing worth running.
        if (ErrorHandler::Log().size() != made) {
            out.errorText = ErrorHandler::Log()[made].description;
            return false;
        }
        bool started = task.StartFunction();
        out.lastError = task.LastError();
        return started && out.lastError == 0;
    } catch (const std::exception& e) {
        // Whatever stopped the run, the old analysis must come back.
        out.errorText = e.what();
        return false;
    }
}

// The result of the sub-task the main task ran; `ran` says whether it
// completed.
void TakeResult(IPXTask& task, bool ran, ProspectingOutcome& out) {
    auto* main = dynamic_cast<pxcp::PXCPMain*>(&task);
    auto sub = main ? std::dynamic_pointer_cast<pxcp::ProspectingSubTask>(main->SubTask()) : nullptr;
    if (auto hh = std::dynamic_pointer_cast<pxcp::PXCPHouseholdData>(sub)) {
        if (!hh->errorText.empty()) out.errorText = hh->errorText;
        out.jobId = hh->jobId;
    }
    out.result = sub ? sub->resultLayer : nullptr;
    out.ok = ran && out.result;
    if (!out.ok) return;
    out.analysisName = out.result->name;
    auto fc = out.result->featureClass;
    if (!fc) return;
    out.areas = fc->RowCount(nullptr);
    // The analysis's folder, wherever its output went (a file beside it, or
    // a table in a database).
    out.analysisFolder = sub->Analysis() ? sub->Analysis()->Folder()
                                         : fs::path(fc->DataPath()).parent_path().string() + "/";
    auto report = fs::path(out.analysisFolder) / "Report.txt";
    if (fs::is_regular_file(report)) out.reportText = report.string();
}

// A run opens on the geography level page, which takes the top-left corner
// of the place in the page settings as its own, and the later pages are
// centred on it. The place an earlier run left is its last page's, a larger
// one: taken as it is, each run would open half the difference of the two
// sizes further up and left. The level page is centred on that place
// instead, so that run after run opens where the analyst left the pages.
void CentreFirstPageOnLastPlace(PropertySet& settings) {
    for (const char* key : {"FormLeft", "FormTop", "FormWidth", "FormHeight"})
        if (!settings.HasProperty(key)) return;
    pxcp::SelectGeographyLevelDialog first;
    first.Load();
    double width = settings.GetProperty("FormWidth").ToDouble(), height = settings.GetProperty("FormHeight").ToDouble();
    // The inverse of the later pages' centring, halves rounded as it rounds them.
    settings.SetProperty("FormLeft", settings.GetProperty("FormLeft").ToDouble() - std::floor((first.width - width) / 2));
    settings.SetProperty("FormTop", settings.GetProperty("FormTop").ToDouble() - std::floor((first.height - height) / 2));
    settings.SetProperty("FormWidth", first.width);
    settings.SetProperty("FormHeight", first.height);
}

}  // namespace

ProspectingOutcome RunProspecting(HostSession& s, const AnalysisPtr& source, const PropertySetPtr& settings) {
    ProspectingOutcome out;
    size_t reports = ErrorHandler::Log().size();
    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(s.dataManager, s.application);
    Variant src(source ? Variant(source) : Variant(nullptr)), ps(settings);
    task->SetParam("SourceAnalysis", src);
    task->SetParam("PropertySet", ps);
    task->InitParamSelector();
    out.pageResult = task->DoParamSelector();
    if (out.pageResult == 1) {
        // The analysis being replaced is kept until its successor is whole
        // (the sub-task keeps it aside), and so is the place of its layer in
        // the map. Whatever the run made is removed when it failed, and the
        // name it held is let go.
        auto places = source ? PlacesOfAnalysisLayers(*s.application->FocusMap(), *source) : std::vector<LayerPlace>{};
        TakeResult(*task, RunFunction(*task, out), out);
        if (!out.ok && out.lastError == kNoAreaFound) {
            out.nothingFound = true;
            for (size_t i = reports; i < ErrorHandler::Log().size() && out.errorText.empty(); ++i)
                if (ErrorHandler::Log()[i].number == kNoAreaFound) out.errorText = ErrorHandler::Log()[i].description;
        }
        s.dataManager->EndRun(out.ok);
        if (!out.ok) PutBack(*s.application->FocusMap(), places);
    } else {
        s.dataManager->EndRun(false);
    }
    task->Cleanup();
    for (size_t i = reports; i < ErrorHandler::Log().size(); ++i) {
        const std::string& d = ErrorHandler::Log()[i].description;
        if (std::find(out.errorReports.begin(), out.errorReports.end(), d) == out.errorReports.end())
            out.errorReports.push_back(d);
    }
    return out;
}

ProspectingOutcome RunProspectingFromDesktop(HostSession& s, const AnalysisPtr& source) {
    // The analysis a run makes keeps the settings it was made with as its
    // properties: a run works on a copy of the session's, so that what a
    // later run types (and cancels) does not become the analysis's.
    PropertySetPtr settings;
    if (source) {
        settings = PageSettingsForReopen(*source);
        CopyPagePosition(*s.pageSettings, *settings);
    } else {
        settings = std::make_shared<PropertySet>(*s.pageSettings);
    }
    CentreFirstPageOnLastPlace(*settings);
    ProspectingOutcome out = RunProspecting(s, source, settings);
    if (source) CopyPagePosition(*settings, *s.pageSettings);
    else *s.pageSettings = *settings;
    if (out.ok || !out.errorText.empty()) return out;
    if (out.pageResult == 1 && out.lastError)
        out.errorText = "The analysis failed (error " + std::to_string(out.lastError) + ").";
    else if (!out.errorReports.empty())
        out.errorText = out.errorReports.front();
    return out;
}

std::string OutcomeMessage(const ProspectingOutcome& o) {
    if (o.nothingFound && !o.errorText.empty()) return o.errorText;
    if (o.pageResult != 1)
        return o.errorText.empty() ? "Customer Prospecting was cancelled." : "Customer Prospecting stopped: " + o.errorText;
    if (!o.ok) return o.errorText.empty() ? "The analysis failed; nothing was kept." : "The analysis failed: " + o.errorText;
    std::string m = o.analysisName + ": " + std::to_string(o.areas) + (o.areas == 1 ? " area found" : " areas found");
    if (!o.jobId.empty()) m += "; household job " + o.jobId + " submitted";
    if (!o.reportText.empty()) m += ". Report: " + o.reportText;
    return m;
}

}  // namespace plexa
