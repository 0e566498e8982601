// One Customer Prospecting run of the desktop: the wizard through the
// current forms driver, then the analysis it set up. A re-opened analysis
// is kept aside until the run that replaces it is complete, and comes back
// when that run fails or is cancelled.
#pragma once

#include <string>
#include <vector>

#include "host/framework/HostSession.h"

namespace plexa {

struct ProspectingOutcome {
    long pageResult = 0;   // the wizard's result: 1 when an analysis was set up
    bool ok = false;       // the analysis ran and its layer is in the map
    long areas = -1;       // areas in the result layer
    std::string analysisName, analysisFolder, reportText;
    std::string jobId;     // a household job that was submitted without waiting
    std::string errorText;
    std::vector<std::string> errorReports;  // run-time errors reported during the run
};

// source: the analysis to re-open, or null for a new one. The page settings
// are the session's for a new analysis; a re-opened one brings back its
// own, and the pages still open where the analyst left them.
ProspectingOutcome RunProspecting(host::HostSession& session, const host::AnalysisPtr& source);

// What the status bar says after a run.
std::string OutcomeMessage(const ProspectingOutcome& outcome);

}  // namespace plexa
