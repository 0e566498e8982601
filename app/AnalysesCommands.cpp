// plexa analyses: what Analysis > Open Analysis does on the desktop, from
// the command line. The analyses are listed, their reports told as text or
// written as documents, made again from their own query files over today's
// data, and removed, through the same code as the desktop's dialog.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "PXCP/Register.h"
#include "app/WizardSupport.h"
#include "app/run/AnalysisText.h"
#include "host/framework/AnalysisList.h"
#include "host/framework/DataManager.h"
#include "host/framework/ReportDocuments.h"
#include "host/gis/Map.h"

namespace plexa {

using namespace host;

namespace {

// Characters a terminal shows, for lining up columns of UTF-8 text.
size_t Width(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string OneLine(std::string s) {
    for (auto& c : s)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return s;
}

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string WayOf(const AnalysisSummary& a) {
    std::string way = a.kind.empty() ? "unknown" : a.kind;
    return a.beingMade ? way + " (being made)" : way;
}

// The analyses the user named, every one of them in the folder; a usage
// error naming those there are otherwise, before anything is done.
std::vector<AnalysisSummary> Named(HostSession& s, const Options& o) {
    auto all = ListAnalysesNow(*s.dataManager);
    std::vector<AnalysisSummary> out;
    for (const auto& name : o.analysisNames) {
        const AnalysisSummary* a = FindInList(all, name);
        if (!a)
            throw UsageError("there is no analysis named \"" + name + "\" in " + s.dataManager->AnalysesRoot() +
                             "; the analyses are " + NamesOf(all));
        out.push_back(*a);
    }
    return out;
}

// The configuration's entry of the level an analysis was made at, by the
// way it was made; null when there is none.
TaskEntryPtr EntryOf(const HostSession& s, const AnalysisSummary& a) {
    if (a.kind.empty() || a.level.empty()) return nullptr;
    std::string entryName = a.kind == "Demographic" ? "CustomerProspecting.ByLayer" : "CustomerProspecting.Household";
    for (auto& d : s.config.datasets) {
        if (d->name != s.config.currentDataset) continue;
        for (auto& t : d->tasks)
            if (t->name == "CustomerProspecting")
                for (auto& e : t->subEntries)
                    if (e->name == entryName && e->caption == a.level) return e;
    }
    return nullptr;
}

// The pages of a re-opened analysis answered as it was made: every choice
// comes from its own page settings and query file; only the name may
// change (newName), and a household analysis asks the service again or
// reads the result table given with --link.
void AnswerTheReopenedPages(forms::ScriptedDriver& d, const Options& o, const AnalysisSummary& a,
                            const std::string& newName, std::shared_ptr<bool> noLogin) {
    d.Click("SelectGeographyLevelDialog", "NextButton");
    Options naming;
    naming.name = newName;
    if (a.kind == "Demographic") {
        d.Click("SelectDemographicDataDialog", "NextButton");
        NameTheAnalysis(d, naming);
        return;
    }
    if (!o.link.empty()) {
        d.Click("SelectOpenHHWayDialog", "LinkDBFRBT");
        d.Type("SelectOpenHHWayDialog", "DBFFileText", -1, AbsolutePath(o.link));
        d.Click("SelectOpenHHWayDialog", "NextButton");
        d.Click("SelectReportDialog", "NextButton");
        return;
    }
    d.Click("SelectOpenHHWayDialog", "ChangeQueryRBT");
    d.Click("SelectOpenHHWayDialog", "NextButton");
    if (!o.user.empty()) {
        d.Type("LoginToQuillonDialog", "UserNameText", -1, o.user);
        d.Type("LoginToQuillonDialog", "PasswordText", -1, ReadPassword(o.user));
    }
    d.On("LoginToQuillonDialog", [noLogin](forms::Form& f) {
        *noLogin = f.Ctl("UserNameText").Text().empty();
        f.UserClick(*noLogin ? "CancelButton" : "NextButton");
    }, "LoginToQuillonDialog: click NextButton");
    d.Click("SelectHouseholdDataDialog", "NextButton");
    NameTheAnalysis(d, naming);
}

}  // namespace

int AnalysesList(const Options& o) {
    auto s = OpenSession(o);
    auto list = ListAnalysesNow(*s.dataManager);
    auto& out = Console::Out();
    if (o.json) {
        out << "[";
        for (size_t i = 0; i < list.size(); ++i) {
            const auto& a = list[i];
            out << (i ? ",\n " : "\n ") << "{\"name\": " << Json(a.name) << ", \"way\": " << Json(a.kind)
                << ", \"level\": " << Json(a.level) << ", \"date\": " << Json(a.date) << ", \"areas\": ";
            if (a.areas < 0) out << "null";
            else out << a.areas;
            out << ", \"comment\": " << Json(a.comment) << ", \"folder\": " << Json(a.folder)
                << ", \"being_made\": " << (a.beingMade ? "true" : "false") << "}";
        }
        out << (list.empty() ? "]\n" : "\n]\n");
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows{{"NAME", "WAY", "LEVEL", "DATE", "AREAS", "COMMENT"}};
    for (const auto& a : list)
        rows.push_back({a.name, WayOf(a), a.level, a.date, a.areas < 0 ? "?" : std::to_string(a.areas), OneLine(a.comment)});
    std::vector<size_t> widths(rows[0].size(), 0);
    for (auto& r : rows)
        for (size_t c = 0; c < r.size(); ++c) widths[c] = std::max(widths[c], Width(r[c]));
    for (auto& r : rows) {
        std::string line;
        for (size_t c = 0; c < r.size(); ++c) {
            line += r[c];
            if (c + 1 < r.size()) line += std::string(widths[c] - Width(r[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << "\n";
    }
    return kExitOk;
}

int AnalysesShow(const Options& o) {
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    auto named = Named(s, o);
    // Reading a query file may want to tell something; nobody is asked.
    Refusals refusals;
    forms::SetDriver(NewDriver(o, refusals, false));
    for (size_t i = 0; i < named.size(); ++i) {
        std::string text;
        try {
            text = AnalysisReportText(s, named[i]);
        } catch (const std::runtime_error& e) {
            throw Failure(e.what());
        }
        Console::Out() << (i ? "\n" : "") << text;
    }
    return kExitOk;
}

int AnalysesReport(const Options& o) {
    if (o.pdf.empty() && o.html.empty()) throw UsageError("give --pdf FILE, --html FILE or both: where to write the report");
    if (o.analysisNames.size() != 1) throw UsageError("report writes the documents of one analysis");
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    auto named = Named(s, o);
    Refusals refusals;
    forms::SetDriver(NewDriver(o, refusals, false));
    try {
        auto content = AnalysisReport(s, named.front());
        // Each is written whole into a scratch file that then replaces the
        // file named, so an old report stays until the new one is complete.
        if (!o.pdf.empty()) {
            report::WriteReportPdf(content, o.pdf);
            Console::Out() << "report: " << o.pdf << "\n";
        }
        if (!o.html.empty()) {
            report::WriteReportHtml(content, o.html);
            Console::Out() << "report: " << o.html << "\n";
        }
    } catch (const Failure&) {
        throw;
    } catch (const std::exception& e) {
        throw Failure(e.what());
    }
    return kExitOk;
}

int AnalysesRerun(const Options& o) {
    if (!o.asName.empty() && o.analysisNames.size() != 1) throw UsageError("--as names the copy of one analysis");
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    auto named = Named(s, o);
    for (const auto& a : named) {
        if (a.kind.empty())
            throw UsageError("\"" + a.name + "\" does not tell how it was made (it has no query file); it cannot be run again");
        if (!EntryOf(s, a))
            throw Failure("the level \"" + a.level + "\" that \"" + a.name + "\" was made at is not in " + o.config +
                          "; it was not run again");
        if (!o.link.empty() && a.kind != "Household") throw UsageError("--link is for household analyses; \"" + a.name + "\" is not one");
    }
    if (!o.link.empty() && !o.asName.empty())
        throw UsageError("--as cannot be used with --link: a result table is joined into the analysis it was asked for");
    s.AddBasemap();
    SetUpProgress(o);
    int rc = kExitOk;
    for (const auto& a : named) {
        std::string newName = o.asName.empty() ? a.name : o.asName;
        HoldTheName(s, o, a.name);
        if (!o.asName.empty()) {
            HoldTheName(s, o, newName);
            if (s.dataManager->AnalysisExists(newName))
                throw Failure("an analysis named \"" + newName + "\" exists already; remove it first or choose another name");
        }
        auto source = s.dataManager->GetAnalysis(a.name);
        if (!source) throw Failure("\"" + a.name + "\" was removed by another run meanwhile");
        Refusals refusals;
        auto d = NewDriver(o, refusals, false);
        auto noLogin = std::make_shared<bool>(false);
        AnswerTheReopenedPages(*d, o, a, newName, noLogin);
        if (named.size() > 1) Console::Out() << a.name << ":\n";
        size_t firstMessage = forms::MessageLog().size();
        Run run = RunWizard(s, d, source, PageSettingsForReopen(*source));
        if (*noLogin)
            throw UsageError("no login to the household-data service is remembered: give --user NAME "
                             "(the password comes from PLEXA_PASSWORD or is asked for), or --link FILE");
        Options reporting = o;
        reporting.png.clear();
        try {
            rc = Report(s, reporting, run, refusals, firstMessage);
        } catch (const Failure& e) {
            // The old analysis came back whole; say so with why.
            throw Failure(std::string(e.what()) + " (\"" + a.name + "\" is as it was)", e.exitCode);
        }
    }
    return rc;
}

int AnalysesRemove(const Options& o) {
    auto s = OpenSession(o);
    auto named = Named(s, o);
    for (const auto& a : named) {
        if (!RemoveAnalysisAndLayers(*s.dataManager, *s.application->FocusMap(), a.name)) {
            bool free = s.dataManager->TryHoldName(a.name);
            if (free) s.dataManager->ReleaseName(a.name);
            throw Failure(free ? "\"" + a.name + "\" could not be removed (its folder, or a table of its output in the "
                                 "database, cannot be deleted now)"
                               : NameHeldText(a.name));
        }
        Console::Out() << "removed " << a.name << "\n";
    }
    return kExitOk;
}

}  // namespace plexa
