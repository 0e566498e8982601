// The batch commands of plexa. main.cpp parses the command line into
// Options and calls one of these; each returns the exit code or raises
// UsageError (exit 2) or Failure (exit 1) with a one-line message.
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/framework/HostSession.h"

namespace plexa {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 3;
constexpr int kExitScript = 4;

// Bad input on the command line: exit 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The work could not be done: exit 1 (or the given code).
struct Failure : std::runtime_error {
    explicit Failure(const std::string& what, int code = kExitFailed) : std::runtime_error(what), exitCode(code) {}
    int exitCode;
};

struct Options {
    // Common.
    std::string config, analyses;
    bool quiet = false, verbose = false;
    // The map picture.
    std::string png;
    int width = 1000, height = 500;
    // Wizard commands.
    std::string script, level, name, comment;
    bool overwrite = false;
    std::string dmq, saveDmq;
    std::vector<std::string> targets;
    bool percentages = false, any = false;
    int year = 0;  // 0: as the query file says, else 1-based
    std::string hhq, user, reopen, link;
    bool noWait = false;
    // Profile.
    std::string customers, customersSrs, pdf, dbf;
    std::string html;  // a report's HTML document
    // Household result.
    std::string job;
    // Help.
    std::string topic;
    // The analyses of the folder.
    std::vector<std::string> analysisNames;
    std::string asName;
    bool json = false;
    // Dataset set-up.
    std::string out, datasetName, id, desc, base, srs;
    std::vector<std::string> levels, years, householdKinds;
    bool household = false, force = false;
};

// What the user sees: results on stdout (unless quiet), details on stderr
// with --verbose, and every error-handler report in the log file.
class Console {
public:
    static void Setup(const Options& o);
    static std::ostream& Out();      // results; a null stream when quiet
    static std::ostream& Detail();   // details; a null stream unless verbose
    static const std::string& LogPath();
    // The description of the last error the library reported, if any.
    static std::string LastReportedError();
};

// Reads and checks the configuration; a broken one is refused with every
// problem on stderr, one line each.
host::HostSession OpenSession(const Options& o);
// The demographic level entry of the current dataset with the given
// caption; a usage error listing the levels there are otherwise.
host::TaskEntryPtr FindLevel(const host::HostSession& s, const std::string& caption, const char* way);
// The password of the household-data service: from PLEXA_PASSWORD, or asked
// for without echo on a terminal. Never from the command line.
std::string ReadPassword(const std::string& user);

int Levels(const Options& o);
int Map(const Options& o);
int Check(const Options& o);
int DatasetInit(const Options& o);
int Profile(const Options& o);
int FetchResult(const Options& o);
int Demographic(const Options& o);
int Household(const Options& o);
int Wizard(const Options& o);
int Help(const Options& o);
int AnalysesList(const Options& o);
int AnalysesShow(const Options& o);
int AnalysesReport(const Options& o);
int AnalysesRerun(const Options& o);
int AnalysesRemove(const Options& o);

}  // namespace plexa
