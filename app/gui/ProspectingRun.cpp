#include "app/gui/ProspectingRun.h"

#include <algorithm>
#include <filesystem>

#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPHouseholdData.h"
#include "PXCP/PXCPMain.h"
#include "host/framework/AnalysisList.h"
#include "host/framework/ErrorHandler.h"

namespace fs = std::filesystem;

namespace plexa {

using namespace host;

ProspectingOutcome RunProspecting(HostSession& s, const AnalysisPtr& source) {
    ProspectingOutcome out;
    PropertySetPtr settings = s.pageSettings;
    if (source) {
        settings = PageSettingsForReopen(*source);
        CopyPagePosition(*s.pageSettings, *settings);
    }
    size_t reports = ErrorHandler::Log().size();
    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(s.dataManager, s.application);
    Variant src(source ? Variant(source) : Variant(nullptr)), ps(settings);
    task->SetParam("SourceAnalysis", src);
    task->SetParam("PropertySet", ps);
    task->InitParamSelector();
    out.pageResult = task->DoParamSelector();
    if (out.pageResult == 1) {
        // The analysis being replaced is kept until its successor is whole,
        // and so is the place of its layer in the map.
        std::string aside = source ? s.dataManager->SetAside(source->Name()) : "";
        auto places = source ? PlacesOfAnalysisLayers(*s.application->FocusMap(), *source) : std::vector<LayerPlace>{};
        auto before = s.dataManager->AnalysisNames();
        size_t made = ErrorHandler::Log().size();
        bool ok = false;
        long err = 0;
        try {
            ok = task->InitFunction();
            // A run-time error while the analysis was being made leaves
            // nothing worth running.
            if (ok && ErrorHandler::Log().size() != made) ok = false;
            ok = ok && task->StartFunction();
            err = task->LastError();
        } catch (const std::exception& e) {
            // Whatever stopped the run, the old analysis must come back.
            ok = false;
            out.errorText = e.what();
        }
        auto main = std::dynamic_pointer_cast<pxcp::PXCPMain>(task);
        auto demo = main ? std::dynamic_pointer_cast<pxcp::PXCPDemographicData>(main->SubTask()) : nullptr;
        auto hh = main ? std::dynamic_pointer_cast<pxcp::PXCPHouseholdData>(main->SubTask()) : nullptr;
        gis::FeatureLayerPtr result = demo ? demo->resultLayer : hh ? hh->resultLayer : nullptr;
        out.ok = ok && err == 0 && result;
        if (hh) {
            if (!hh->errorText.empty()) out.errorText = hh->errorText;
            out.jobId = hh->jobId;
        }
        if (out.ok) {
            out.analysisName = result->name;
            out.areas = result->featureClass ? result->featureClass->RowCount(nullptr) : -1;
            if (result->featureClass)
                out.analysisFolder = fs::path(result->featureClass->DataPath()).parent_path().string() + "/";
            if (fs::is_regular_file(out.analysisFolder + "Report.txt")) out.reportText = out.analysisFolder + "Report.txt";
        } else if (out.errorText.empty() && err) {
            out.errorText = "The analysis failed (error " + std::to_string(err) + ").";
        }
        s.dataManager->EndReplacement(aside, out.ok);
        if (!out.ok) PutBack(*s.application->FocusMap(), places);
        // A new analysis that failed on the way leaves no folder behind.
        if (!out.ok && aside.empty())
            for (auto& name : s.dataManager->AnalysisNames())
                if (std::find(before.begin(), before.end(), name) == before.end()) s.dataManager->RemoveAnalysis(name);
    }
    task->Cleanup();
    if (source) CopyPagePosition(*settings, *s.pageSettings);
    for (size_t i = reports; i < ErrorHandler::Log().size(); ++i) {
        const std::string& d = ErrorHandler::Log()[i].description;
        if (std::find(out.errorReports.begin(), out.errorReports.end(), d) == out.errorReports.end())
            out.errorReports.push_back(d);
    }
    if (!out.ok && out.errorText.empty() && !out.errorReports.empty()) out.errorText = out.errorReports.front();
    return out;
}

std::string OutcomeMessage(const ProspectingOutcome& o) {
    if (o.pageResult != 1)
        return o.errorText.empty() ? "Customer Prospecting was cancelled." : "Customer Prospecting stopped: " + o.errorText;
    if (!o.ok) return o.errorText.empty() ? "The analysis failed; nothing was kept." : "The analysis failed: " + o.errorText;
    std::string m = o.analysisName + ": " + std::to_string(o.areas) + (o.areas == 1 ? " area found" : " areas found");
    if (!o.jobId.empty()) m += "; household job " + o.jobId + " submitted";
    if (!o.reportText.empty()) m += ". Report: " + o.reportText;
    return m;
}

}  // namespace plexa
