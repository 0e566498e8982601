// An analysis told in plain text, from what its folder holds: the name,
// the way and level it was made with, when it ran, its comment, the areas
// it found, its criteria in the words of the Show Query page, and its
// report summary.
#pragma once

#include <string>

#include "host/framework/AnalysisList.h"

namespace plexa {

// entry: the level entry of the configuration the analysis was made at,
// whose catalogue words the criteria; null when the configuration no
// longer has it (the criteria are then left out). datasetName: the current
// dataset, whose query files the criteria are read from.
std::string AnalysisSummaryText(const host::AnalysisSummary& analysis, const host::TaskEntryPtr& entry,
                                const std::string& datasetName);

// The criteria of an analysis's query file in the words of the Show Query
// page; "" when they cannot be read.
std::string CriteriaText(const host::AnalysisSummary& analysis, const host::TaskEntryPtr& entry,
                         const std::string& datasetName);

}  // namespace plexa
