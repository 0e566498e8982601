// The commands that run the Customer Prospecting wizard: the demographic
// and household ways answered from the command line, and any script. The
// pages are the desktop's own, driven by the scripted forms driver, so
// every check of a page applies on the command line too.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "PXCP/Register.h"
#include "app/WizardSupport.h"
#include "host/gis/MapDrawing.h"
#include "host/platform/Locale.h"

namespace fs = std::filesystem;

namespace plexa {

using namespace host;
using forms::Form;

namespace {

// A message box text on one line.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n' || c == '\t') c = ' ';
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// What the messages of the run said went wrong: the first warning or
// failure (later ones tend to follow from it), else the last notice.
std::string ProblemMessage(size_t from) {
    auto& log = forms::MessageLog();
    for (size_t i = from; i < log.size(); ++i) {
        int icon = log[i].style & 0x70;
        if (icon == forms::vbCritical || icon == forms::vbExclamation) return OneLine(log[i].text);
    }
    for (size_t i = log.size(); i > from; --i)
        if ((log[i - 1].style & 0x70) == forms::vbInformation || (log[i - 1].style & 7) == forms::vbOKOnly)
            return OneLine(log[i - 1].text);
    return "";
}

}  // namespace

std::shared_ptr<forms::ScriptedDriver> NewDriver(const Options& o, Refusals& refusals, bool echo) {
    auto driver = std::make_shared<forms::ScriptedDriver>();
    if (echo && !o.quiet) driver->SetEcho(&Console::Out());
    else if (o.verbose) driver->SetEcho(&Console::Detail());
    driver->SetDefaultAnswer([&refusals](const std::string& text, int style) {
        int buttons = style & 7;
        if (buttons == forms::vbYesNo || buttons == forms::vbYesNoCancel) {
            std::string t = text;
            // The question's last line asks what to do; the rest says why.
            if (auto nl = t.find_last_of('\n'); nl != std::string::npos) t = t.substr(0, nl);
            refusals.questions.push_back(OneLine(t));
            return static_cast<int>(forms::vbNo);
        }
        return buttons == forms::vbRetryCancel ? static_cast<int>(forms::vbCancel) : static_cast<int>(forms::vbOK);
    });
    return driver;
}

namespace {

// One floor and/or ceiling of a target of the level's catalogue.
struct Criterion {
    long category = 0, target = 0;
    std::string floor, ceiling;
};

bool Matches(const std::string& a, const std::string& b) { return IEquals(Trim(a), Trim(b)); }

std::string CheckValue(const std::string& spec, const std::string& v) {
    std::string t = Trim(v);
    auto n = platform::ParseLocaleNumber(t);
    if (t.empty() || !n) throw UsageError("--target \"" + spec + "\": \"" + v + "\" is not a number");
    if (*n < 0) throw UsageError("--target \"" + spec + "\": values cannot be negative");
    // The query compares with two decimals, as the data page does.
    if (std::abs(std::nearbyint(*n * 100) - *n * 100) > 1e-6)
        std::cerr << "plexa: warning: --target \"" << spec << "\": values are compared with two decimals, "
                  << t << " as " << platform::FormatFixed(*n, 2) << "\n";
    return t;
}

// "Category/Target>=V", "Target<=V", "Target=A..B" (or "=V" for both).
std::vector<Criterion> ParseTargets(const TaskEntry& entry, const std::vector<std::string>& specs) {
    std::vector<Criterion> out;
    for (const auto& spec : specs) {
        auto op = spec.find_first_of("<>=");
        if (op == std::string::npos || op == 0)
            throw UsageError("--target \"" + spec + "\": write TARGET>=V, TARGET<=V or TARGET=A..B");
        std::string name = Trim(spec.substr(0, op)), kind, value;
        if (spec.compare(op, 2, ">=") == 0 || spec.compare(op, 2, "<=") == 0) {
            kind = spec.substr(op, 2);
            value = spec.substr(op + 2);
        } else if (spec[op] == '=') {
            kind = "=";
            value = spec.substr(op + 1);
        } else {
            throw UsageError("--target \"" + spec + "\": use >= or <= (a floor or a ceiling counts its own value)");
        }
        // The target: by category and name, or by a name that is unique.
        std::vector<std::pair<long, long>> found;
        for (long c = 0; c < entry.CategoryCount(); ++c) {
            auto cat = entry.Category(c);
            for (long t = 0; t < cat->TargetCount(); ++t) {
                auto tg = cat->Target(t);
                bool targetMatch = Matches(tg->name, name) || Matches(tg->caption, name);
                for (size_t slash = name.find('/'); !targetMatch && slash != std::string::npos;
                     slash = name.find('/', slash + 1)) {
                    std::string cn = name.substr(0, slash), tn = name.substr(slash + 1);
                    targetMatch = (Matches(cat->id, cn) || Matches(cat->caption, cn)) &&
                                  (Matches(tg->name, tn) || Matches(tg->caption, tn));
                }
                if (targetMatch) found.emplace_back(c, t);
            }
        }
        if (found.empty()) {
            std::string list;
            for (auto& cat : entry.categories)
                for (auto& tg : cat->targets) list += (list.empty() ? "" : ", ") + cat->id + "/" + tg->name;
            throw UsageError("--target \"" + spec + "\": the level " + entry.caption + " has no target \"" + name +
                             "\"; its targets are " + list);
        }
        if (found.size() > 1) {
            std::string list;
            for (auto& [c, t] : found)
                list += (list.empty() ? "" : ", ") + entry.Category(c)->id + "/" + entry.Category(c)->Target(t)->name;
            throw UsageError("--target \"" + spec + "\": \"" + name + "\" is in several categories; name one of " + list);
        }
        Criterion* cr = nullptr;
        for (auto& c : out)
            if (c.category == found[0].first && c.target == found[0].second) cr = &c;
        if (!cr) {
            out.push_back({found[0].first, found[0].second, "", ""});
            cr = &out.back();
        }
        if (kind == ">=") {
            cr->floor = CheckValue(spec, value);
        } else if (kind == "<=") {
            cr->ceiling = CheckValue(spec, value);
        } else if (auto dots = value.find(".."); dots != std::string::npos) {
            cr->floor = CheckValue(spec, value.substr(0, dots));
            cr->ceiling = CheckValue(spec, value.substr(dots + 2));
        } else {
            cr->floor = cr->ceiling = CheckValue(spec, value);
        }
    }
    return out;
}

}  // namespace

std::string AbsolutePath(const std::string& p) { return fs::absolute(p).lexically_normal().string(); }

namespace {

// Answers the file option page: 0 opens, 1 saves.
void UseQueryFile(forms::ScriptedDriver& d, const std::string& page, int action, const std::string& path) {
    d.Click(page, "FileButton");
    d.Select("FileOptionDialog", "FileOptionList", action);
    d.Click("FileOptionDialog", "OKButton");
    d.ChooseFile(AbsolutePath(path));
}

}  // namespace

void NameTheAnalysis(forms::ScriptedDriver& d, const Options& o) {
    d.Type("SelectAnalysisNameDialog", "AnalysisNameText", -1, o.name);
    if (!o.comment.empty()) d.Type("SelectAnalysisNameDialog", "AnalysisCommentText", -1, o.comment);
    d.Click("SelectAnalysisNameDialog", "NextButton");
    d.Click("SelectReportDialog", "NextButton");
}

namespace {

// The level on the first page, and the way when the level offers both.
void ChooseLevel(forms::ScriptedDriver& d, const std::string& level, const char* option) {
    d.SelectText("SelectGeographyLevelDialog", "GeographyLevelsList", level);
    std::string opt = option;
    d.On("SelectGeographyLevelDialog", [opt](Form& f) {
        if (f.Ctl(opt).visible && f.Ctl(opt).enabled) f.UserClick(opt);
    }, "SelectGeographyLevelDialog: click " + opt);
    d.Click("SelectGeographyLevelDialog", "NextButton");
}

}  // namespace

Run RunWizard(HostSession& s, const std::shared_ptr<forms::ScriptedDriver>& driver, const AnalysisPtr& source,
              const PropertySetPtr& settings) {
    forms::SetDriver(driver);
    Run run;
    static_cast<ProspectingOutcome&>(run) = RunProspecting(s, source, settings);
    run.scriptProblems = driver->Problems();
    return run;
}

int Report(HostSession& s, const Options& o, const Run& run, const Refusals& refusals, size_t firstMessage) {
    auto& out = Console::Out();
    if (run.pageResult == 1 && run.ok) {
        out << "areas found: " << run.areas << "\n"
            << "output: " << run.result->featureClass->DataPath() << "\n"
            << "analysis folder: " << run.analysisFolder << "\n";
        if (!run.jobId.empty())
            out << "job id: " << run.jobId << " (fetch it with: plexa fetch-result --job " << run.jobId
                << " --dbf FILE)\n";
        if (!o.png.empty()) {
            gis::RenderMapToPng(*s.application->FocusMap(), o.png, o.width, o.height, {run.result->name, ""});
            out << "map written to " << o.png << "\n";
        }
        return kExitOk;
    }
    if (!refusals.questions.empty()) throw UsageError("the query was refused: " + refusals.questions.back());
    if (FunctionRunner::LastCode() == FunctionRunner::kCancelled && run.pageResult == 1)
        throw Failure("cancelled; nothing was kept", kExitCancelled);
    std::string why = run.errorText;
    if (why.empty()) why = ProblemMessage(firstMessage);
    if (why.empty()) why = Console::LastReportedError();
    if (run.pageResult == 1) throw Failure(why.empty() ? "the analysis failed" : why);
    if (!why.empty()) throw Failure(why, kExitCancelled);
    if (!run.scriptProblems.empty()) throw Failure("the wizard stopped: " + run.scriptProblems.front(), kExitScript);
    throw Failure("the wizard was cancelled", kExitCancelled);
}

void SetUpProgress(const Options& o) { FunctionRunner::SetSink(MakeTerminalProgress(!o.quiet)); }

void HoldTheName(HostSession& s, const Options& o, const std::string& name) {
    if (name.empty() || s.dataManager->TryHoldName(name)) return;
    if (!o.quiet) std::cerr << "plexa: another run is making or replacing \"" << name << "\"; waiting for it to finish\n";
    s.dataManager->HoldName(name);
}

namespace {

// An existing analysis of the name: replaced with --overwrite, else refused.
AnalysisPtr Replaced(HostSession& s, const Options& o) {
    HoldTheName(s, o, o.name);
    if (o.name.empty() || !s.dataManager->AnalysisExists(o.name)) return nullptr;
    if (!o.overwrite)
        throw Failure("an analysis named \"" + o.name + "\" exists already; give --overwrite to replace it");
    return s.dataManager->GetAnalysis(o.name);
}

}  // namespace

std::string ReadPassword(const std::string& user) {
    if (const char* p = std::getenv("PLEXA_PASSWORD")) return p;
    if (!isatty(STDIN_FILENO))
        throw UsageError("give the password of " + user + " in PLEXA_PASSWORD (or run plexa in a terminal to be asked)");
    std::cerr << "Password for " << user << ": " << std::flush;
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::string password;
    std::getline(std::cin, password);
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << "\n";
    return password;
}

int Demographic(const Options& o) {
    if (o.dmq.empty() && o.targets.empty()) throw UsageError("give the query: --dmq FILE, or one --target or more");
    if (o.name.empty() && o.saveDmq.empty()) throw UsageError("--name is required (or --save-dmq FILE alone to keep the query)");
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    auto entry = FindLevel(s, o.level, "ByLayer");
    auto criteria = ParseTargets(*entry, o.targets);
    long years = std::max<long>(1, entry->years->Count());
    if (o.year > years) throw UsageError("--year must be between 1 and " + std::to_string(years) + " for " + o.level);
    auto source = Replaced(s, o);
    s.AddBasemap();

    Refusals refusals;
    auto d = NewDriver(o, refusals, false);
    const std::string page = "SelectDemographicDataDialog";
    ChooseLevel(*d, entry->caption, "DemographicDataOption");
    if (!o.dmq.empty()) UseQueryFile(*d, page, 0, o.dmq);
    for (auto& c : criteria) {
        long cat = c.category, j = c.target;
        std::string floor = c.floor, ceiling = c.ceiling;
        d->On(page, [cat, j, floor, ceiling](Form& f) {
            f.UserSelectItem("CategoryList", cat, true);
            if (!floor.empty()) f.UserType("FloorText", static_cast<int>(j), floor);
            if (!ceiling.empty()) f.UserType("CeilingText", static_cast<int>(j), ceiling);
            f.UserFocus("CategoryList");
        }, page + ": target " + std::to_string(cat) + "/" + std::to_string(j));
    }
    if (o.percentages) d->Click(page, "PercentagesOption");
    if (o.any) d->Click(page, "AnyCharacteristicsOption");
    if (o.year) d->Click(page, "YearOption", o.year - 1);
    if (!o.saveDmq.empty()) UseQueryFile(*d, page, 1, o.saveDmq);
    if (o.name.empty()) {
        // Only the query was wanted: the checks of Next still run first.
        d->On(page, [](Form& f) {
            f.UserClick("NextButton");
        }, page + ": check");
        d->Click("SelectAnalysisNameDialog", "CancelButton");
    } else {
        d->Click(page, "NextButton");
        NameTheAnalysis(*d, o);
    }
    SetUpProgress(o);
    size_t firstMessage = forms::MessageLog().size();
    Run run = RunWizard(s, d, source, s.pageSettings);
    if (o.name.empty()) {
        if (!refusals.questions.empty()) throw UsageError("the query was refused: " + refusals.questions.back());
        if (!fs::exists(o.saveDmq)) {
            std::string why = ProblemMessage(firstMessage);
            throw Failure(why.empty() ? "the query could not be saved" : why);
        }
        Console::Out() << "query saved to " << o.saveDmq << "\n";
        return kExitOk;
    }
    return Report(s, o, run, refusals, firstMessage);
}

int Household(const Options& o) {
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    s.AddBasemap();
    Refusals refusals;
    auto d = NewDriver(o, refusals, false);
    AnalysisPtr source;
    PropertySetPtr settings = s.pageSettings;
    auto noLogin = std::make_shared<bool>(false);
    auto login = [&] {
        if (!o.user.empty()) {
            d->Type("LoginToQuillonDialog", "UserNameText", -1, o.user);
            d->Type("LoginToQuillonDialog", "PasswordText", -1, ReadPassword(o.user));
        }
        // Without --user the page offers the remembered login, if there is one.
        d->On("LoginToQuillonDialog", [noLogin](Form& f) {
            *noLogin = f.Ctl("UserNameText").Text().empty();
            f.UserClick(*noLogin ? "CancelButton" : "NextButton");
        }, "LoginToQuillonDialog: click NextButton");
    };
    if (!o.reopen.empty()) {
        if (o.link.empty()) throw UsageError("--reopen needs --link FILE.dbf");
        HoldTheName(s, o, o.reopen);
        source = s.dataManager->GetAnalysis(o.reopen);
        if (!source) throw UsageError("there is no analysis named \"" + o.reopen + "\"");
        // A re-opened analysis brings back the choices it was made with.
        settings = PageSettingsForReopen(*source);
        d->Click("SelectGeographyLevelDialog", "NextButton");
        d->Click("SelectOpenHHWayDialog", "LinkDBFRBT");
        d->Type("SelectOpenHHWayDialog", "DBFFileText", -1, AbsolutePath(o.link));
        d->Click("SelectOpenHHWayDialog", "NextButton");
        d->Click("SelectReportDialog", "NextButton");
    } else {
        if (o.hhq.empty()) throw UsageError("--hhq FILE is required");
        if (o.name.empty()) throw UsageError("--name is required");
        auto entry = FindLevel(s, o.level, "Household");
        source = Replaced(s, o);
        ChooseLevel(*d, entry->caption, "HouseholdDataOption");
        if (source) {
            d->Click("SelectOpenHHWayDialog", "ChangeQueryRBT");
            d->Click("SelectOpenHHWayDialog", "NextButton");
        }
        login();
        UseQueryFile(*d, "SelectHouseholdDataDialog", 0, o.hhq);
        if (o.noWait) d->Click("SelectHouseholdDataDialog", "DontWaitOption");
        d->Click("SelectHouseholdDataDialog", "NextButton");
        NameTheAnalysis(*d, o);
    }
    SetUpProgress(o);
    size_t firstMessage = forms::MessageLog().size();
    Run run = RunWizard(s, d, source, settings);
    if (*noLogin)
        throw UsageError("no login to the household-data service is remembered: give --user NAME "
                         "(the password comes from PLEXA_PASSWORD or is asked for)");
    return Report(s, o, run, refusals, firstMessage);
}

int Wizard(const Options& o) {
    std::ifstream f(o.script);
    std::stringstream text;
    text << f.rdbuf();
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    s.AddBasemap();
    Refusals refusals;
    auto d = NewDriver(o, refusals, true);
    d->SetDefaultAnswer(nullptr);  // a script answers its own questions; the rest are Yes
    try {
        d->LoadScript(text.str());
    } catch (const std::exception& e) {
        throw UsageError(o.script + ": " + e.what());
    }
    SetUpProgress(o);
    size_t firstMessage = forms::MessageLog().size();
    Run run = RunWizard(s, d, nullptr, s.pageSettings);
    int rc = Report(s, o, run, refusals, firstMessage);
    if (!run.scriptProblems.empty()) throw Failure("the script did not fit the pages: " + run.scriptProblems.front(), kExitScript);
    return rc;
}

}  // namespace plexa
