// The report of an analysis of the folder, made again from what its folder
// holds: the same content as the Report.pdf its run left (its particulars,
// the criteria in the words of the Show Query page, the summary, the
// classes, the areas found and the customer profile), told as text on the
// console or written as PDF and HTML documents.
#pragma once

#include <string>

#include "host/framework/AnalysisList.h"
#include "host/framework/HostSession.h"
#include "host/framework/ReportContent.h"

namespace plexa {

// The report of an analysis as its run's report task made it: the output
// drawn as the run drew it (a layer of the map that draws it, else the
// way's own renderer) over the level's areas of the current dataset, dated
// when the analysis ran; withMap false leaves the map's picture out (a
// text has none). Raises std::runtime_error naming the analysis when its
// output cannot be read.
host::report::ReportContent AnalysisReport(host::HostSession& session, const host::AnalysisSummary& analysis,
                                           bool withMap = true);

// The report as text, with a note first when a run is still making the
// analysis.
std::string AnalysisReportText(host::HostSession& session, const host::AnalysisSummary& analysis);

}  // namespace plexa
