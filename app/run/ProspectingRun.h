// One Customer Prospecting run, as the command line and the desktop make
// it: the wizard through the current forms driver, then the analysis it
// set up. An analysis being replaced is kept aside, with the places of its
// layers in the map, until its successor is complete, and comes back when
// the run fails, is cancelled or throws; a new analysis that failed on the
// way leaves no folder behind.
#pragma once

#include <string>
#include <vector>

#include "host/framework/HostSession.h"

namespace plexa {

struct ProspectingOutcome {
    long pageResult = 0;   // the wizard's result: 1 when an analysis was set up
    bool ok = false;       // the analysis ran and its layer is in the map
    host::gis::FeatureLayerPtr result;
    long areas = -1;       // areas in the result layer
    std::string analysisName, analysisFolder, reportText;
    std::string jobId;     // a household job that was submitted without waiting
    // Why the run stopped, when it said so itself: an exception, the
    // household service, or an error while the analysis was being made.
    std::string errorText;
    std::vector<std::string> errorReports;  // run-time errors reported during the run, once each
    long lastError = 0;                     // the task's error number after the run
    // The run found no area (worker code 35): not a failure of the program
    // but an answer, which errorText gives in the worker's words.
    bool nothingFound = false;
};

// source: the analysis being replaced or re-opened, or null for a new one;
// settings: the page settings the wizard starts from.
ProspectingOutcome RunProspecting(host::HostSession& session, const host::AnalysisPtr& source,
                                  const host::PropertySetPtr& settings);

// The desktop's run: a re-opened analysis brings back its own page settings,
// and the pages still open where the analyst left them. A failure says why
// from the run-time errors when nothing else did.
ProspectingOutcome RunProspectingFromDesktop(host::HostSession& session, const host::AnalysisPtr& source);

// What the status bar says after a run.
std::string OutcomeMessage(const ProspectingOutcome& outcome);

}  // namespace plexa
