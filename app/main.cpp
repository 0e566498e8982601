// plexa: the host program. Batch commands run the Customer Prospecting
// wizard from the command line; the same pages, tasks and functions serve
// the desktop program.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>

#include "app/Commands.h"
#include "host/platform/Locale.h"
#include "service/HouseholdDataClient.h"
#ifdef PLEXA_WITH_GUI
#include "app/gui/DesktopErrors.h"
#include "app/gui/MainWindow.h"
#endif

namespace {

using namespace plexa;

// A value that must be a single line: names and levels end up in files
// and lists where a line break would split them.
const CLI::Validator kOneLine(
    [](std::string& s) { return s.find_first_of("\r\n") == std::string::npos ? std::string() : "must be one line"; },
    "", "one line");

// An input file that can be read to its end: not a folder, a FIFO or a
// device, which would block or fail with an odd message.
const CLI::Validator kReadableFile(
    [](std::string& s) {
        std::error_code ec;
        auto st = std::filesystem::status(s, ec);
        if (ec || !std::filesystem::exists(st)) return "no such file: " + s;
        if (std::filesystem::is_directory(st)) return s + " is a folder, not a file";
        if (!std::filesystem::is_regular_file(st)) return s + " is not a regular file";
        return std::string();
    },
    "FILE", "a readable file");

void AddConfig(CLI::App* c, Options& o, bool required = true) {
    auto* opt = c->add_option("--config", o.config, "dataset configuration (XML)");
    if (required) opt->required();
    c->add_option("--analyses", o.analyses, "folder of the analyses (default: the configuration's, or ~/.local/share/plexa/analyses)");
}

void AddPicture(CLI::App* c, Options& o) {
    c->add_option("--png", o.png, "also draw the map into this PNG picture");
    c->add_option("--width", o.width, "picture width in pixels")->check(CLI::Range(16, 20000))->capture_default_str();
    c->add_option("--height", o.height, "picture height in pixels")->check(CLI::Range(16, 20000))->capture_default_str();
}

void AddAnalysisName(CLI::App* c, Options& o) {
    c->add_option("--name", o.name, "name of the new analysis")->check(kOneLine);
    c->add_option("--comment", o.comment, "comment kept with the analysis");
    c->add_flag("--overwrite", o.overwrite, "replace an analysis of the same name");
}

}  // namespace

int main(int argc, char** argv) {
    // The C library's locale comes from the environment, as the desktop's
    // toolkit sets it: both programs then run alike, and no number of a
    // file, clause or reply may depend on it.
    host::platform::UseEnvironmentLocale();
    host::platform::InitLocaleFromEnvironment();
    Options o;
    CLI::App app{"plexa: Customer Prospecting on your own geography layers.\n"
                 "Finds the areas of a geography level whose make-up matches target criteria,\n"
                 "profiles customer point layers and asks the household-data service."};
    app.require_subcommand(1);
    app.add_flag("-q,--quiet", o.quiet, "print nothing but errors");
    app.add_flag("-v,--verbose", o.verbose, "print the pages as they pass and where errors happened");
    app.footer("Exit codes: 0 done, 1 failed, 2 bad command line, 3 cancelled, 4 script did not fit.\n"
               "Errors are logged with their module locations in ~/.local/state/plexa/plexa.log.\n"
               "Run 'plexa COMMAND --help' for the options of a command.");

    auto* levels = app.add_subcommand("levels", "list the datasets and geography levels of a configuration");
    AddConfig(levels, o);

    auto* check = app.add_subcommand("check", "check a configuration and its layers before anything runs");
    check->add_option("--config", o.config, "dataset configuration (XML)")->required();

    auto* dataset = app.add_subcommand("dataset", "set up a dataset configuration for your own layers");
    dataset->require_subcommand(1);
    auto* init = dataset->add_subcommand("init", "write a configuration for one or more polygon layers");
    init->add_option("--out", o.out, "the configuration file to write")->required();
    init->add_option("--name", o.datasetName, "name of the dataset")->required()->check(kOneLine);
    init->add_option("--level", o.levels, "a geography level as CAPTION=PATH (PATH|LAYER for a GeoPackage layer); repeat for more")
        ->required()
        ->check(kOneLine);
    init->add_option("--id", o.id, "key field of the areas (found in the data when not given)");
    init->add_option("--desc", o.desc, "name field of the areas (found in the data when not given)");
    init->add_option("--base", o.base, "field the count fields may be measured against as percentages");
    init->add_option("--srs", o.srs, "coordinate system of layers whose files have none (EPSG:N)");
    init->add_option("--years", o.years,
                     "the periods (at most three) to keep as the years of levels with fields by period, e.g. 1990,2000 or "
                     "1979-84; the latest three when not given")
        ->delimiter(',');
    init->add_flag("--household", o.household, "also offer the household way at every level");
    init->add_option("--household-kind", o.householdKinds,
                     "what the household-data service counts a level by, as [CAPTION=]KIND with KIND Block group, Tract, "
                     "ZIP code, County or State (found from the keys when not given); implies --household")
        ->check(kOneLine);
    init->add_flag("--force", o.force, "replace the file when it exists");

    auto* map = app.add_subcommand("map", "draw the basemap of the current dataset into a PNG picture");
    AddConfig(map, o);
    AddPicture(map, o);
    map->get_option("--png")->required();

    auto* demo = app.add_subcommand("demographic", "find the areas of a level that match demographic targets");
    AddConfig(demo, o);
    demo->add_option("--level", o.level, "geography level (see plexa levels)")->required()->check(kOneLine);
    demo->add_option("--dmq", o.dmq, "demographic query file")->check(kReadableFile);
    demo->add_option("--target", o.targets,
                     "a criterion: \"[CATEGORY/]TARGET>=V\", \"TARGET<=V\" or \"TARGET=A..B\"; repeat for more");
    demo->add_flag("--percentages", o.percentages, "values of targets that may be percentages are percentages");
    demo->add_flag("--any", o.any, "an area may meet any one target (default: all)");
    demo->add_option("--year", o.year, "data year, 1-based")->check(CLI::PositiveNumber);
    demo->add_option("--save-dmq", o.saveDmq, "save the query as a query file (alone: save and stop)");
    AddAnalysisName(demo, o);
    AddPicture(demo, o);

    auto* hh = app.add_subcommand("household", "find the areas where enough households match, through the household-data service");
    AddConfig(hh, o);
    hh->add_option("--level", o.level, "geography level (see plexa levels)")->check(kOneLine);
    hh->add_option("--hhq", o.hhq, "household query file")->check(kReadableFile);
    hh->add_option("--user", o.user, "account at the service (default: the remembered login); "
                                     "the password comes from PLEXA_PASSWORD or is asked for");
    hh->add_flag("--no-wait", o.noWait, "submit only and print the job id");
    hh->add_option("--reopen", o.reopen, "an analysis to run again on a result table fetched later");
    hh->add_option("--link", o.link, "the result table (dBASE) for --reopen")->check(kReadableFile);
    AddAnalysisName(hh, o);
    AddPicture(hh, o);
    hh->footer("The service: PLEXA_HOUSEHOLD_SERVICE=host:port (default 127.0.0.1:8360).");

    auto* fetch = app.add_subcommand("fetch-result", "fetch the result table of a household job submitted without waiting");
    fetch->add_option("--job", o.job, "the job id")->required();
    fetch->add_option("--dbf", o.dbf, "where to write the table")->required();
    fetch->add_option("--user", o.user, "the account that submitted the job (default: the remembered login); "
                                        "the password comes from PLEXA_PASSWORD or is asked for");

    auto* profile = app.add_subcommand("profile", "the average customer profile of a point layer over the areas of a level");
    AddConfig(profile, o);
    profile->add_option("--customers", o.customers, "customer point layer (any vector file; PATH|LAYER for a GeoPackage layer)")
        ->required();
    profile->add_option("--customers-srs", o.customersSrs, "coordinate system of a customer layer that has none (EPSG:N)");
    profile->add_option("--level", o.level, "geography level (see plexa levels)")->required()->check(kOneLine);
    profile->add_option("--year", o.year, "data year, 1-based")->check(CLI::PositiveNumber);
    profile->add_option("--pdf", o.pdf, "print the profile into this PDF");
    profile->add_option("--dbf", o.dbf, "write the profile table (dBASE)");

    auto* wizard = app.add_subcommand("wizard", "run the wizard with its pages answered from a script");
    AddConfig(wizard, o);
    wizard->add_option("--script", o.script, "the script, one step a line")->required()->check(kReadableFile);

    auto* analyses = app.add_subcommand("analyses", "list, show, report, run again or remove the analyses of the analyses folder");
    analyses->require_subcommand(1);
    auto* alist = analyses->add_subcommand("list", "list the analyses: name, way, level, date, areas found and comment");
    AddConfig(alist, o);
    alist->add_flag("--json", o.json, "print the list as JSON");
    auto* ashow = analyses->add_subcommand("show", "print the reports of analyses as text: what they were asked and what they found");
    AddConfig(ashow, o);
    ashow->add_option("name", o.analysisNames, "the analyses to show")->required();
    auto* areport = analyses->add_subcommand("report", "write the report of an analysis as a PDF document, an HTML file or both");
    AddConfig(areport, o);
    areport->add_option("name", o.analysisNames, "the analysis")->required()->expected(1);
    areport->add_option("--pdf", o.pdf, "write the report into this PDF document (on the paper of the user's locale)");
    areport->add_option("--html", o.html, "write the report into this HTML file, its map inside");
    auto* arerun = analyses->add_subcommand("rerun", "run analyses again from their own query files over today's data");
    AddConfig(arerun, o);
    arerun->add_option("name", o.analysisNames, "the analyses to run again; each is replaced once its new run is complete")
        ->required();
    arerun->add_option("--as", o.asName, "keep the analysis and make the new run under this name")->check(kOneLine);
    arerun->add_option("--user", o.user, "household analyses: the account at the service (default: the remembered login); "
                                         "the password comes from PLEXA_PASSWORD or is asked for");
    arerun->add_option("--link", o.link, "household analyses: join this result table (dBASE) instead of asking the service")
        ->check(kReadableFile);
    auto* aremove = analyses->add_subcommand("remove", "remove analyses: their folders, their tables in a database");
    AddConfig(aremove, o);
    aremove->add_option("name", o.analysisNames, "the analyses to remove")->required();

    auto* gui = app.add_subcommand("gui", "open the desktop program");
    AddConfig(gui, o);

    auto* help = app.add_subcommand("help", "print a help topic (without one: the list of topics)");
    help->add_option("topic", o.topic, "the topic, e.g. ABOUT_CUSTOMER_PROFILE");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "plexa: " << e.what() << "\n"
                  << "Run 'plexa " << (app.get_subcommands().empty() ? "" : app.get_subcommands().front()->get_name() + " ")
                  << "--help' for the options.\n";
        return kExitUsage;
    }

    Console::Setup(o);
    // Ctrl+C also ends a request to the household-data service in progress.
    pxcp::HouseholdDataClient::SetCancelCheck([] { return host::FunctionRunner::Interrupted(); });
    try {
        if (*levels) return Levels(o);
        if (*check) return Check(o);
        if (*init) return DatasetInit(o);
        if (*map) return Map(o);
        if (*demo) return Demographic(o);
        if (*hh) return Household(o);
        if (*fetch) return FetchResult(o);
        if (*profile) return Profile(o);
        if (*wizard) return Wizard(o);
        if (*help) return Help(o);
        if (*alist) return AnalysesList(o);
        if (*ashow) return AnalysesShow(o);
        if (*areport) return AnalysesReport(o);
        if (*arerun) return AnalysesRerun(o);
        if (*aremove) return AnalysesRemove(o);
        if (*gui) {
#ifdef PLEXA_WITH_GUI
            // A broken configuration is told here and, when a window can
            // open, in a dialog before the main window.
            try {
                OpenSession(o);
            } catch (const Failure&) {
                if (!plexa::DisplayAvailable()) throw;
            }
            return plexa::RunDesktop(o.config, o.analyses, argc, argv);
#else
            OpenSession(o);
            std::cerr << "plexa: this build has no desktop program (configure with -DPXCP_BUILD_GUI=ON)\n";
            return kExitFailed;
#endif
        }
    } catch (const UsageError& e) {
        std::cerr << "plexa: " << e.what() << "\n";
        return kExitUsage;
    } catch (const Failure& e) {
        std::cerr << "plexa: " << e.what() << "\n";
        return e.exitCode;
    } catch (const std::exception& e) {
        std::cerr << "plexa: " << e.what() << "\n";
        return kExitFailed;
    }
    return kExitUsage;
}
