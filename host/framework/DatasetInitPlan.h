// What plexa dataset init found in a level's layer, before it is written
// as XML: the key and name fields, the years, and the targets.
#pragma once

#include <string>
#include <vector>

#include "host/framework/DatasetInit.h"
#include "host/gis/SpatialReference.h"

namespace host {

struct TargetPlan {
    std::string name;
    std::string caption;
    std::vector<std::string> number;   // per year; empty when the year has none
    std::vector<std::string> percent;  // per year, for counts
    bool canPercent = false;
};

// A category of its own: the targets of one period that is not a year of
// the level.
struct CategoryPlan {
    std::string title;
    std::vector<TargetPlan> targets;
};

struct LevelPlan {
    std::string caption;
    std::string layerName;
    std::string source;  // as written
    std::string srs;     // written when the layer has none of its own
    std::string idField, descField;
    std::vector<std::string> years;
    std::vector<TargetPlan> targets;  // grouped into counts and other values
    std::vector<CategoryPlan> periodCategories;
    std::vector<std::string> otherPeriods;  // captions of the periods not kept as years
    std::string householdKind;              // with the household way: what the service counts by
    int geographicEpsg = -1;
};

// Reads the level's layer. Raises kErrInvalidCall with one message that
// names the level and the option that would help.
LevelPlan ReadLevel(const DatasetInitLevel& level, const DatasetInitOptions& options, const gis::SpatialReferencePtr& srs);

// The level's name in the singular ("Counties" gives "County"), as level
// names are written; captions usually name the areas in the plural.
std::string LevelName(const std::string& caption);

// The configuration text for the levels read.
std::string WriteConfiguration(const DatasetInitOptions& options, const std::vector<LevelPlan>& levels);

}  // namespace host
