// What the host tells of its analyses when it lists them: the kind of
// prospecting each was made with (from the query file in its folder), when
// it ran, the analyst's comment and where its report is; and removing an
// analysis together with the map layers drawn from its output.
#pragma once

#include <string>
#include <vector>

#include "host/framework/Framework.h"

namespace host {

struct AnalysisSummary {
    std::string name;
    std::string kind;       // "Demographic", "Household", or "" when neither its files nor its properties tell
    std::string queryFile;  // AnalysisParams.dmq or .hhq in the folder; "" when missing
    std::string date;       // "YYYY-MM-DD HH:MM" of the run, local time
    std::string comment;    // the analyst's comment on the analysis name page
    std::string level;      // the geography level it was run at ("" when not kept)
    long areas = -1;        // areas in its output; -1 when the output cannot be read
    std::string folder;
    std::string reportText, reportTable;  // Report.txt and Report.csv; "" when missing
    bool beingMade = false;  // a run (perhaps of another process) is still making it
};

AnalysisSummary Summarize(const Analysis& analysis);
// Every analysis of the data manager, by name.
std::vector<AnalysisSummary> ListAnalyses(const DataManager& dataManager);
// The same, with the analyses folder read again first: what other
// processes sharing it added or removed is seen.
std::vector<AnalysisSummary> ListAnalysesNow(DataManager& dataManager);
// The analysis of the list with this name (without regard to case); null
// when there is none.
const AnalysisSummary* FindInList(const std::vector<AnalysisSummary>& list, const std::string& name);
// The names of the list, quoted and separated by commas ("none" when empty):
// what a user who named no analysis of the folder is told.
std::string NamesOf(const std::vector<AnalysisSummary>& list);

// The layers of the map (in groups too) that draw an analysis's output.
std::vector<gis::LayerPtr> LayersOfAnalysis(const gis::Map& map, const Analysis& analysis);
// Where a layer of an analysis stands in the map: in a group (or at the top
// when group is null), at an index of its list.
struct LayerPlace {
    gis::LayerPtr layer;
    std::shared_ptr<gis::GroupLayer> group;
    size_t index = 0;
};
std::vector<LayerPlace> PlacesOfAnalysisLayers(const gis::Map& map, const Analysis& analysis);
// Puts layers back where they stood, unless they are in the map already.
void PutBack(gis::Map& map, const std::vector<LayerPlace>& places);

// Removes the analysis and its layers from the map, and its output tables
// kept in a database; false when there is no such analysis, or its folder
// or a table could not be removed.
bool RemoveAnalysisAndLayers(DataManager& dataManager, gis::Map& map, const std::string& name);

// Copies the place of the last page ("FormLeft", "FormTop", "FormWidth",
// "FormHeight") from one set of page settings to another, so that a wizard
// run with other settings still opens where the analyst left the pages.
void CopyPagePosition(const PropertySet& from, PropertySet& to);

}  // namespace host
