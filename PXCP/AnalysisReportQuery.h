// What a Customer Prospecting analysis asked, for its report: the criteria
// in the words of the data pages' Show Query, the fields they name, the
// household counts of the whole study area and the customer profile the
// analysis was made with. Read from the query files in its folder.
#pragma once

#include "host/framework/ReportBuilder.h"

namespace pxcp {

// A host::report::QueryDescriber: false for a folder without
// "AnalysisParams.dmq" or "AnalysisParams.hhq".
bool DescribeAnalysisQuery(const host::Analysis& analysis, const host::Dataset& dataset,
                           const host::TaskEntryPtr& entry, host::report::ReportQuery& query);

}  // namespace pxcp
