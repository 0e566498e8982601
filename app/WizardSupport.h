// What the commands that run the wizard share: a scripted driver that
// answers the pages' own questions as the user meant, the run of the
// wizard and its analysis, and what the user reads afterwards.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/run/ProspectingRun.h"
#include "host/forms/ScriptedDriver.h"

namespace plexa {

// A page's own question ("Do you want to flip those values ?") is answered
// No, as a user would who meant what they typed; the question is kept to
// tell why the run stopped.
struct Refusals {
    std::vector<std::string> questions;
};

// echo: the pages are printed as they pass (else only with --verbose).
std::shared_ptr<host::forms::ScriptedDriver> NewDriver(const Options& o, Refusals& refusals, bool echo);

std::string AbsolutePath(const std::string& p);

// The name and report pages that end both ways.
void NameTheAnalysis(host::forms::ScriptedDriver& d, const Options& o);

struct Run : ProspectingOutcome {
    std::vector<std::string> scriptProblems;
};

// Runs the wizard with the driver's steps, then the analysis.
Run RunWizard(host::HostSession& s, const std::shared_ptr<host::forms::ScriptedDriver>& driver,
              const host::AnalysisPtr& source, const host::PropertySetPtr& settings);

// What the user reads after a run; the exit code (or UsageError/Failure).
// firstMessage: the size of the message log before the run.
int Report(host::HostSession& s, const Options& o, const Run& run, const Refusals& refusals, size_t firstMessage);

// Progress of long work on the terminal.
void SetUpProgress(const Options& o);

// The name is held for the whole command: a run that another is making or
// replacing under the same name (in this folder, from any process) waits
// its turn, then finds the folder as that run left it.
void HoldTheName(host::HostSession& s, const Options& o, const std::string& name);

}  // namespace plexa
