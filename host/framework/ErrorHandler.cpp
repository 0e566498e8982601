#include "host/framework/ErrorHandler.h"

#include <iostream>

namespace host {

namespace {
ErrorHandler::Sink& SinkRef() {
    static ErrorHandler::Sink sink = [](const ErrorReport& r) {
        std::cerr << "Error " << r.number << " in " << r.location << ": " << r.description;
        if (!r.source.empty()) std::cerr << " (" << r.source << ")";
        std::cerr << "\n";
    };
    return sink;
}
}  // namespace

std::vector<ErrorReport>& ErrorHandler::Log() {
    static std::vector<ErrorReport> log;
    return log;
}

void ErrorHandler::SetSink(Sink sink) { SinkRef() = std::move(sink); }

void ErrorHandler::Report(const std::string& location, long number, const std::string& source,
                          const std::string& description) {
    ErrorReport r{location, number, source, description, moduleName_};
    Log().push_back(r);
    if (debug_ && SinkRef()) SinkRef()(r);
}

void ErrorHandler::SetOption(const std::string& name, const Variant& value) {
    if (name == "Debug")
        debug_ = value.ToBool();
    else if (name == "Module Name")
        moduleName_ = value.ToString();
    else
        Raise(kErrInvalidCall, "Unknown error handler option " + name);
}

Variant ErrorHandler::Invoke(const std::string& member, std::vector<Variant>& args) {
    if (member == "Report" && args.size() >= 4) {
        Report(args[0].ToString(), args[1].ToLong(), args[2].ToString(), args[3].ToString());
        return {};
    }
    if (member == "SetOption" && args.size() >= 2) {
        SetOption(args[0].ToString(), args[1]);
        return {};
    }
    return Object::Invoke(member, args);
}

ErrorHandlerPtr NewErrorHandler() {
    auto eh = CreateObjectAs<ErrorHandler>("PXKernel.PXErrorHandler");
    eh->SetOption("Debug", true);
    eh->SetOption("Module Name", "");
    return eh;
}

void ReportException(const ErrorHandlerPtr& eh, const std::string& location) {
    long number = 0;
    std::string source, description;
    try {
        throw;
    } catch (const RuntimeError& e) {
        number = e.Number();
        source = e.Source();
        description = e.Description();
    } catch (const std::exception& e) {
        number = 440;
        source = "PXHost";
        description = e.what();
    } catch (...) {
        number = 440;
        source = "PXHost";
        description = "Unknown error";
    }
    if (eh)
        eh->Report(location, number, source, description);
    else
        std::cerr << "Error " << number << " in " << location << ": " << description << "\n";
}

}  // namespace host
