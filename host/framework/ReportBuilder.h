// Makes the report of an analysis: reads its result, the level's areas of
// the study area and what the analysis asked, and draws its map, into a
// ReportContent that the report's outputs share.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/framework/DataManager.h"
#include "host/framework/DatasetConfig.h"
#include "host/framework/Extension.h"
#include "host/framework/ReportContent.h"
#include "host/gis/Geometry.h"
#include "host/gis/Map.h"

namespace host::report {

// A field the analysis asked about: a column of the table of areas and,
// when it is a count, a total of the summary.
struct ReportField {
    std::string name;     // "SID74"
    std::string caption;  // "Sudden infant deaths"
    bool count = true;    // summed in the summary
};

// What an analysis asked, in the words of the component that made it: the
// host knows its folder and result, only that component knows its query
// file. Describers are registered by the components (see
// SetQueryDescriber).
struct ReportQuery {
    std::string way;   // "Demographic data", "Household data"
    std::string year;  // caption of the year searched; empty for none
    std::vector<std::string> criteria;
    std::vector<ReportField> fields;
    // Counts of the whole study area that the level's layer does not hold
    // (the household way's counts come from the service), by field.
    std::map<std::string, double> wholeTotals;
    ReportTable profile;  // the customer profile, when the analysis holds one
};

// Describes the analysis; false when it is not one the describer knows.
// entry: the level entry of the dataset configuration the analysis ran on.
using QueryDescriber = std::function<bool(const Analysis& analysis, const Dataset& dataset,
                                          const TaskEntryPtr& entry, ReportQuery& query)>;
// One describer for all analyses; the library of the analyses sets it when
// its classes are registered. Without one, a report has no criteria.
void SetQueryDescriber(QueryDescriber describer);
const QueryDescriber& GetQueryDescriber();

struct ReportInputs {
    AnalysisPtr analysis;
    PropertySetPtr pageSettings;  // of the run; the analysis's own properties come first
    DatasetPtr dataset;
    gis::FeatureLayerPtr result;  // the output layer as the map renders it
    gis::FeatureClassPtr level;   // the level's areas; null: no totals of the study area
    gis::GeometryPtr studyArea;   // null: the whole level
    DatasetLayerPtr levelLayer;   // its key and name fields
    std::string levelCaption;     // the level layer's name on the map
    std::string date;             // empty: now
    int mapWidth = 1800, mapHeight = 1260;
};

// The level entry of a dataset for a level caption and a way (demographic
// when true); null when none.
TaskEntryPtr FindLevelEntry(const Dataset& dataset, const std::string& levelCaption, bool demographic);

// The inputs of the report of an analysis as the host has them: the
// extension's current dataset, the level the analysis was made at (from
// its properties, then the page settings) with its areas and fields, and
// the study area. The result layer is left to the caller, who knows how
// it is drawn. A level whose areas cannot be opened leaves level null.
ReportInputs AnalysisReportInputs(const DataManager& dataManager, Extension* extension,
                                  const AnalysisPtr& analysis, const PropertySetPtr& pageSettings);

// Raises when the result cannot be read; a map that cannot be drawn leaves
// the picture empty.
ReportContent BuildReportContent(const ReportInputs& inputs);

// The map of a report: the result over the level's areas, zoomed to the
// result as the desktop zooms to it.
gis::Map ReportMap(const ReportInputs& inputs);

}  // namespace host::report
