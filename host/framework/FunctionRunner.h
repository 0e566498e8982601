// Running a function to its end. The runner calls Start, then DoStep while
// it returns true, and tells a progress sink how far it is; the sink may
// cancel between steps. It ends with a completion code (completed,
// cancelled, failed) and never lets an error escape: a function that
// raises is reported through the error handler and counts as failed.
#pragma once

#include <memory>
#include <string>

#include "host/Object.h"
#include "host/framework/Task.h"

namespace host {

// What the analyst sees of a running function.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void Begin(const std::string& animation, const std::string& caption, const std::string& message) = 0;
    // fraction < 0: no measure, just alive.
    virtual void Step(double fraction, const std::string& message) = 0;
    virtual void End(long code) = 0;
    virtual bool CancelRequested() = 0;
};

// Runs a function: Start, then DoStep while it returns True.
// Completion codes: 2 completed, 3 cancelled by the analyst, 4 failed.
class FunctionRunner : public Object {
public:
    static constexpr long kCompleted = 2;
    static constexpr long kCancelled = 3;
    static constexpr long kFailed = 4;
    std::string TypeName() const override { return "PXFunctionRunner"; }
    long Run(IPXFunction& function, const std::string& animation, const std::string& caption, const std::string& message);
    // Workers may tell how far they are.
    static void ReportProgress(double fraction, const std::string& message = "");

    // The completion code of the last run (0 before any).
    static long LastCode();
    // Ctrl+C (or SIGTERM) arrived during the current run; safe from any thread.
    static bool Interrupted();
    static void SetSink(std::shared_ptr<ProgressSink> sink);
    static ProgressSink* Sink();
};

// A progress sink for terminals: a bar on stderr while the work runs, when
// stderr is a terminal and draw is set; Ctrl+C cancels.
std::shared_ptr<ProgressSink> MakeTerminalProgress(bool draw = true);
// A silent sink; cancels after the given number of steps when >= 0.
std::shared_ptr<ProgressSink> MakeSilentProgress(long cancelAfterSteps = -1);

}  // namespace host
