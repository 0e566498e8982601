#include "app/run/AnalysisText.h"

#include <stdexcept>

#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPHouseholdData.h"
#include "host/framework/Extension.h"
#include "host/framework/ReportBuilder.h"
#include "host/gis/LayerSource.h"
#include "host/gis/Map.h"

namespace plexa {

using namespace host;

namespace {

// The output the analysis registered, as a layer drawn as its run drew it.
gis::FeatureLayerPtr ResultLayer(HostSession& s, const Analysis& analysis, const AnalysisSummary& a) {
    if (s.application && s.application->FocusMap())
        for (auto& l : LayersOfAnalysis(*s.application->FocusMap(), analysis))
            if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l); fl && fl->featureClass) return fl;
    if (analysis.Layers().empty())
        throw std::runtime_error("\"" + a.name + "\" has no output" + (a.beingMade ? " yet: a run is still making it" : ""));
    auto layer = std::make_shared<gis::FeatureLayer>();
    try {
        layer->featureClass =
            std::dynamic_pointer_cast<gis::FeatureClass>(gis::OpenLayerSource(gis::LayerSource::Parse(analysis.Layers().front())));
    } catch (const std::exception& e) {
        throw std::runtime_error("the output of \"" + a.name + "\" cannot be read: " + e.what());
    }
    if (!layer->featureClass) throw std::runtime_error("the output of \"" + a.name + "\" has no shapes");
    layer->name = a.name;
    long percent = layer->featureClass->FindField("PERCENT");
    if (a.kind == "Household")
        layer->renderer = percent >= 0 ? pxcp::PXCPHouseholdData::CreateRenderer(layer->featureClass, percent)
                                       : pxcp::PXCPHouseholdData::CreateSimpleRenderer();
    else
        layer->renderer = pxcp::PXCPDemographicData::CreateSimpleRenderer();
    return layer;
}

}  // namespace

report::ReportContent AnalysisReport(HostSession& s, const AnalysisSummary& a, bool withMap) {
    auto analysis = s.dataManager->GetAnalysis(a.name);
    if (!analysis) throw std::runtime_error("\"" + a.name + "\" was removed by another run meanwhile");
    auto in = report::AnalysisReportInputs(*s.dataManager, s.extension.get(), analysis, nullptr);
    in.result = ResultLayer(s, *analysis, a);
    in.date = a.date;
    if (!withMap) in.mapWidth = in.mapHeight = 0;
    return report::BuildReportContent(in);
}

std::string AnalysisReportText(HostSession& s, const AnalysisSummary& a) {
    std::string note = a.beingMade ? "A run is still making this analysis.\n\n" : "";
    return note + AnalysisReport(s, a, false).ToText();
}

}  // namespace plexa
