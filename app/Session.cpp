// The console of plexa and the session every configuration command opens.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "app/Commands.h"
#include "host/framework/ConfigCheck.h"
#include "host/framework/ErrorHandler.h"

namespace fs = std::filesystem;

namespace plexa {

using namespace host;

namespace {

struct ConsoleState {
    bool quiet = false, verbose = false;
    std::string logPath;
    std::string lastError;
    std::ofstream null;  // never opened: writes go nowhere
};

ConsoleState& State() {
    static ConsoleState s;
    return s;
}

std::string DefaultLogPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    fs::path dir = state && *state ? fs::path(state) / "plexa" : fs::path(home ? home : "/tmp") / ".local/state/plexa";
    return (dir / "plexa.log").string();
}

// One line a report: when, where, what.
void AppendToLog(const ErrorReport& r) {
    auto& st = State();
    if (st.logPath.empty()) return;
    std::error_code ec;
    fs::path p(st.logPath);
    if (!fs::exists(p.parent_path(), ec)) {
        fs::create_directories(p.parent_path(), ec);
        chmod(p.parent_path().c_str(), 0700);
    }
    bool fresh = !fs::exists(p, ec);
    std::ofstream log(p, std::ios::app);
    if (!log) return;
    if (fresh) chmod(p.c_str(), 0600);
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    log << when << " error " << r.number << " in " << r.location << ": " << r.description;
    if (!r.source.empty()) log << " (" << r.source << ")";
    log << "\n";
}

}  // namespace

void Console::Setup(const Options& o) {
    auto& st = State();
    st.quiet = o.quiet;
    st.verbose = o.verbose;
    const char* env = std::getenv("PLEXA_LOG");
    st.logPath = env && *env ? env : DefaultLogPath();
    // The library reports where an error happened; that is for the log (and
    // for --verbose), while the user gets one line at the end.
    ErrorHandler::SetSink([](const ErrorReport& r) {
        State().lastError = r.description;
        AppendToLog(r);
        if (State().verbose) {
            std::cerr << "error " << r.number << " in " << r.location << ": " << r.description;
            if (!r.source.empty()) std::cerr << " (" << r.source << ")";
            std::cerr << "\n";
        }
    });
}

std::ostream& Console::Out() { return State().quiet ? State().null : std::cout; }
std::ostream& Console::Detail() { return State().verbose ? std::cerr : State().null; }
const std::string& Console::LogPath() { return State().logPath; }
std::string Console::LastReportedError() { return State().lastError; }

HostSession OpenSession(const Options& o) {
    if (o.config.empty()) throw UsageError("--config FILE is required");
    auto problems = CheckConfiguration(o.config);
    if (!problems.empty()) {
        for (auto& p : problems) std::cerr << p.ToString() << "\n";
        throw Failure(o.config + ": " + std::to_string(problems.size()) +
                      (problems.size() == 1 ? " problem" : " problems") + " in the configuration; nothing was done");
    }
    try {
        return HostSession::Open(o.config, o.analyses);
    } catch (const std::exception& e) {
        throw Failure(e.what());
    }
}

TaskEntryPtr FindLevel(const HostSession& s, const std::string& caption, const char* way) {
    std::string entryName = std::string("CustomerProspecting.") + way;
    std::vector<std::string> captions;
    for (auto& d : s.config.datasets) {
        if (d->name != s.config.currentDataset) continue;
        for (auto& t : d->tasks) {
            if (t->name != "CustomerProspecting") continue;
            for (auto& e : t->subEntries) {
                if (e->name != entryName) continue;
                if (e->caption == caption) return e;
                captions.push_back("\"" + e->caption + "\"");
            }
            // "tracts" for "Tracts", when only one level is called so.
            TaskEntryPtr found;
            int matches = 0;
            for (auto& e : t->subEntries)
                if (e->name == entryName && IEquals(e->caption, caption)) found = e, ++matches;
            if (matches == 1) return found;
        }
    }
    std::string list;
    for (auto& c : captions) list += (list.empty() ? "" : ", ") + c;
    std::string wayName = std::string(way) == "ByLayer" ? "demographic" : "household";
    if (caption.empty())
        throw UsageError("--level is required; the " + wayName + " levels of " + s.config.currentDataset +
                         " are " + (list.empty() ? "none" : list));
    throw UsageError("there is no " + wayName + " level \"" + caption + "\" in " + s.config.currentDataset +
                     (list.empty() ? "; it has none" : "; the levels are " + list));
}

}  // namespace plexa
