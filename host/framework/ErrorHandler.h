// "PXKernel.PXErrorHandler": the host's error reporter. Reports go to the
// log sink (stderr by default) and, when "Debug" is on and a message sink
// is installed, to the analyst as a message.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/Object.h"

namespace host {

struct ErrorReport {
    std::string location;
    long number = 0;
    std::string source;
    std::string description;
    std::string moduleName;
};

class ErrorHandler : public Object {
public:
    std::string TypeName() const override { return "PXErrorHandler"; }
    // Operation 1: report an error at a location.
    void Report(const std::string& location, long number, const std::string& source, const std::string& description);
    // Operation 3: set an option ("Debug", "Module Name").
    void SetOption(const std::string& name, const Variant& value);
    Variant Invoke(const std::string& member, std::vector<Variant>& args) override;

    bool Debug() const { return debug_; }

    // Every report of every handler is kept here for the host's log window
    // and for tests.
    static std::vector<ErrorReport>& Log();
    using Sink = std::function<void(const ErrorReport&)>;
    static void SetSink(Sink sink);

private:
    bool debug_ = false;
    std::string moduleName_;
};
using ErrorHandlerPtr = std::shared_ptr<ErrorHandler>;

// Creates "PXKernel.PXErrorHandler" and sets "Debug" True, "Module Name" empty,
// as every class of the library does when it is created.
ErrorHandlerPtr NewErrorHandler();

// Reports the current exception through the handler; the caller then
// returns the value it held.
void ReportException(const ErrorHandlerPtr& eh, const std::string& location);

// The locations one module's reports carry: the procedure, then the
// module. Each module keeps one:
//   const host::ErrorLocation Loc("PXCP\\PXCPMain.cls");
//   PX_CATCH(errorHandler_, Loc("IPXTask_Init"))  // "IPXTask_Init PXCP\PXCPMain.cls"
class ErrorLocation {
public:
    explicit ErrorLocation(std::string module) : module_(std::move(module)) {}
    std::string operator()(const std::string& procedure) const { return procedure + " " + module_; }
    const std::string& Module() const { return module_; }

private:
    std::string module_;
};

}  // namespace host

// Runs a procedure body; a run-time error is reported with the location
// "Proc " + module and the procedure goes on to return what it held.
#define PX_TRY try {
#define PX_CATCH(eh, location) \
    }                          \
    catch (...) {              \
        ::host::ReportException((eh), (location)); \
    }
