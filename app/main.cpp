// plexa: the host program. Batch commands run the Customer Prospecting
// wizard through a script; the same pages, tasks and functions serve the
// desktop program.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "CustomerProfile/ProfileOutputs.h"
#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPHouseholdData.h"
#include "PXCP/PXCPMain.h"
#include "PXCP/Register.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/ErrorHandler.h"
#include "host/framework/HostSession.h"
#include "host/platform/Locale.h"
#include "service/HouseholdDataClient.h"
#ifdef PLEXA_WITH_GUI
#include "app/gui/MainWindow.h"
#endif

namespace {

using namespace host;

int Usage() {
    std::cerr << "usage:\n"
                 "  plexa levels --config FILE\n"
                 "      lists the datasets and the geography levels offered for Customer Prospecting\n"
                 "  plexa wizard --config FILE --script FILE [--analyses DIR]\n"
                 "      runs the Customer Prospecting wizard, answering its pages from the script\n"
                 "  plexa demographic --config FILE --level LEVEL --dmq FILE --name NAME [--png FILE] [--analyses DIR]\n"
                 "      finds the areas of a level that match a demographic query file and names the analysis\n"
                 "  plexa household --config FILE --level LEVEL --hhq FILE --name NAME [--user U --password P]\n"
                 "                  [--no-wait] [--png FILE] [--analyses DIR]\n"
                 "      finds the areas where enough households match a household query file, through the\n"
                 "      household-data service (PLEXA_HOUSEHOLD_SERVICE=host:port, default 127.0.0.1:8360)\n"
                 "  plexa household --config FILE --reopen NAME --link FILE.dbf [--png FILE] [--analyses DIR]\n"
                 "      runs a household analysis again on a result table fetched later\n"
                 "  plexa fetch-result --job ID --dbf FILE\n"
                 "      fetches the result table of a household job that was submitted without waiting\n"
                 "  plexa profile --config FILE --customers FILE.shp --level LEVEL [--year N] [--pdf FILE] [--dbf FILE]\n"
                 "      the average customer profile of a point layer over the areas of a level\n"
                 "  plexa gui --config FILE [--analyses DIR]\n"
                 "      the desktop program: the map, its layers and the Customer Prospecting wizard\n"
                 "  plexa map --config FILE --png FILE [--width N --height N]\n"
                 "      draws the basemap of the current dataset into a PNG picture\n";
    return 2;
}

struct Args {
    std::string command, config, script, analyses, png, level, dmq, name, customers, pdf, dbf;
    std::string hhq, user = "demo", password = "demo", reopen, link, job;
    bool noWait = false;
    int year = 1;
    int width = 1000, height = 500;
};

bool Parse(int argc, char** argv, Args& a) {
    if (argc < 2) return false;
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string k = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + k);
            return argv[++i];
        };
        if (k == "--config") a.config = next();
        else if (k == "--script") a.script = next();
        else if (k == "--analyses") a.analyses = next();
        else if (k == "--png") a.png = next();
        else if (k == "--level") a.level = next();
        else if (k == "--customers") a.customers = next();
        else if (k == "--pdf") a.pdf = next();
        else if (k == "--dbf") a.dbf = next();
        else if (k == "--year") a.year = std::stoi(next());
        else if (k == "--dmq") a.dmq = next();
        else if (k == "--name") a.name = next();
        else if (k == "--hhq") a.hhq = next();
        else if (k == "--user") a.user = next();
        else if (k == "--password") a.password = next();
        else if (k == "--no-wait") a.noWait = true;
        else if (k == "--reopen") a.reopen = next();
        else if (k == "--link") a.link = next();
        else if (k == "--job") a.job = next();
        else if (k == "--width") a.width = std::stoi(next());
        else if (k == "--height") a.height = std::stoi(next());
        else throw std::runtime_error("unknown option " + k);
    }
    if (a.config.empty() && a.command != "fetch-result") throw std::runtime_error("--config is required");
    return true;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

int Levels(const Args& a) {
    auto s = HostSession::Open(a.config, a.analyses);
    for (auto& d : s.config.datasets) {
        std::cout << d->name << (d->name == s.config.currentDataset ? " (current)" : "") << "\n";
        for (auto& t : d->tasks) {
            if (t->name != "CustomerProspecting") continue;
            for (auto& e : t->subEntries) {
                const char* way = e->name == "CustomerProspecting.ByLayer"     ? "demographic"
                                  : e->name == "CustomerProspecting.Household" ? "household"
                                                                               : "";
                if (*way) std::cout << "  " << e->caption << "  [" << way << ", layer " << e->Param("MainLayer") << "]\n";
            }
        }
    }
    return 0;
}

int Map(const Args& a) {
    if (a.png.empty()) throw std::runtime_error("--png is required");
    auto s = HostSession::Open(a.config, a.analyses);
    s.AddBasemap();
    gis::RenderMapToPng(*s.application->FocusMap(), a.png, a.width, a.height);
    std::cout << "map written to " << a.png << "\n";
    return 0;
}

std::string Quote(const std::string& s) { return "\"" + ReplaceAll(s, "\"", "\"\"") + "\""; }

// The whole demographic way from a level, a query file and a name.
std::string DemographicScript(const Args& a) {
    if (a.level.empty() || a.dmq.empty() || a.name.empty())
        throw std::runtime_error("--level, --dmq and --name are required");
    if (!std::filesystem::exists(a.dmq)) throw std::runtime_error("the query file " + a.dmq + " does not exist");
    std::string dmq = std::filesystem::absolute(a.dmq).string();
    return "SelectGeographyLevelDialog: select GeographyLevelsList " + Quote(a.level) + "\n"
           "SelectGeographyLevelDialog: click DemographicDataOption\n"
           "SelectGeographyLevelDialog: click NextButton\n"
           "SelectDemographicDataDialog: click FileButton\n"
           "FileOptionDialog: select FileOptionList 0\n"
           "FileOptionDialog: click OKButton\n"
           "file " + Quote(dmq) + "\n"
           "SelectDemographicDataDialog: click NextButton\n"
           "SelectAnalysisNameDialog: type AnalysisNameText " + Quote(a.name) + "\n"
           "SelectAnalysisNameDialog: click NextButton\n"
           "SelectReportDialog: click NextButton\n";
}

// The average customer profile of a point layer over the areas of a level.
int Profile(const Args& a) {
    if (a.customers.empty() || a.level.empty()) throw std::runtime_error("--customers and --level are required");
    auto s = HostSession::Open(a.config, a.analyses);
    pxcp::RegisterPXCPClasses();
    TaskEntryPtr entry;
    for (auto& d : s.config.datasets)
        if (d->name == s.config.currentDataset)
            for (auto& t : d->tasks)
                if (t->name == "CustomerProspecting")
                    for (auto& e : t->subEntries)
                        if (e->name == "CustomerProspecting.ByLayer" && e->caption == a.level) entry = e;
    if (!entry) throw std::runtime_error("the current dataset has no demographic level " + a.level);
    auto query = s.extension->GetDataQuery(entry->Param("MainLayer"));
    if (!query) throw std::runtime_error("the level's main layer " + entry->Param("MainLayer") + " is not configured");
    auto layer = pxcp::OpenLayerFile(a.customers);
    if (!layer) throw std::runtime_error("the customer layer " + a.customers + " could not be opened");
    auto rows = std::make_shared<Collection>();
    std::string key = std::to_string(a.year);
    for (auto& c : entry->categories)
        for (auto& t : c->targets) {
            auto r = std::make_shared<Collection>();
            r->Add(t == c->targets.front() ? "True" : "False", "First");
            r->Add(c->caption, "Cat.caption");
            r->Add(t->caption, "Target.caption");
            bool available = t->numberFields.count(key) && query->Fields()->FindField(t->numberFields.at(key)) >= 0;
            r->Add(c->id, "0");
            r->Add(t->name, "1");
            r->Add(1, "2");
            r->Add(available ? 1 : 0, "3");
            r->Add(0.0, "Value");
            r->Add(std::string(), "Chance");
            rows->Add(r, std::to_string(rows->Count()));
        }
    auto f = CreateObjectAs<IPXFunction>("PXCP.PXCPProfileFunction");
    auto set = [&](const char* k, Variant v) { f->SetParam(k, v); };
    set("Application", s.application);
    set("CustomerLayer", layer);
    set("SelectedOnly", false);
    set("CustomerProspectingTask", entry);
    set("ParamsCollection", rows);
    set("YearIndex", static_cast<int16_t>(a.year));
    set("DemogrLayerID", entry->Param("MainLayer"));
    set("DataQueryObject", query);
    set("CharacteristicsGrid", rows);
    if (!f->Init()) throw std::runtime_error("the profile could not be set up (year " + key + ")");
    FunctionRunner::SetSink(MakeTerminalProgress());
    long code = FunctionRunner().Run(*f, "Clock AVI", "Analysis", "Computing the customer profile...");
    if (code != FunctionRunner::kCompleted || f->LastError() != 0) {
        std::cerr << "plexa: the profile failed (code " << code << ", error " << f->LastError() << ")\n";
        return 1;
    }
    std::cout << "Customer profile of " << layer->name << " over " << a.level << " ("
              << (a.year - 1 < entry->years->Count() ? entry->years->Item(a.year - 1) : key) << ")\n";
    for (long i = 1; i <= rows->Count(); ++i) {
        auto r = rows->Item(i).As<Collection>();
        std::cout << "  " << r->Item("0").ToString() << " / " << r->Item("1").ToString() << ": "
                  << (r->Item("3").ToLong() ? r->Item("Value").ToString() + " " + r->Item("Chance").ToString()
                                            : std::string("(not in the data for this year)"))
                  << "\n";
    }
    pxcp::CustomerProfileState state;
    state.header1 = "Study area: " + s.config.currentDataset;
    state.header2 = "Customers: " + layer->name;
    state.header3 = a.level + ", " + (a.year - 1 < entry->years->Count() ? entry->years->Item(a.year - 1) : key);
    state.rows = rows;
    if (!a.dbf.empty()) {
        forms::SetDriver(std::make_shared<forms::ScriptedDriver>());  // questions answered Yes
        if (!pxcp::WriteProfileTable(*rows, a.dbf)) return 1;
        std::cout << "profile table written to " << a.dbf << "\n";
    }
    if (!a.pdf.empty()) {
        platform::Printer printer(a.pdf);
        pxcp::PrintProfile(printer, state, 1);
        std::cout << "profile printed to " << a.pdf << "\n";
    }
    return 0;
}

// The household way from a level, a query file, an account and a name; or
// a re-opened analysis linked to a result table.
std::string HouseholdScript(const Args& a) {
    if (!a.reopen.empty()) {
        if (a.link.empty()) throw std::runtime_error("--reopen needs --link FILE.dbf");
        if (!std::filesystem::exists(a.link)) throw std::runtime_error("the table " + a.link + " does not exist");
        return "SelectGeographyLevelDialog: click NextButton\n"
               "SelectOpenHHWayDialog: click LinkDBFRBT\n"
               "SelectOpenHHWayDialog: type DBFFileText " + Quote(std::filesystem::absolute(a.link).string()) + "\n"
               "SelectOpenHHWayDialog: click NextButton\n"
               "SelectReportDialog: click NextButton\n";
    }
    if (a.level.empty() || a.hhq.empty() || a.name.empty())
        throw std::runtime_error("--level, --hhq and --name are required");
    if (!std::filesystem::exists(a.hhq)) throw std::runtime_error("the query file " + a.hhq + " does not exist");
    return "SelectGeographyLevelDialog: select GeographyLevelsList " + Quote(a.level) + "\n"
           "SelectGeographyLevelDialog: click HouseholdDataOption\n"
           "SelectGeographyLevelDialog: click NextButton\n"
           "LoginToQuillonDialog: type UserNameText " + Quote(a.user) + "\n"
           "LoginToQuillonDialog: type PasswordText " + Quote(a.password) + "\n"
           "LoginToQuillonDialog: click NextButton\n"
           "SelectHouseholdDataDialog: click FileButton\n"
           "FileOptionDialog: select FileOptionList 0\n"
           "FileOptionDialog: click OKButton\n"
           "file " + Quote(std::filesystem::absolute(a.hhq).string()) + "\n" +
           (a.noWait ? "SelectHouseholdDataDialog: click DontWaitOption\n" : "") +
           "SelectHouseholdDataDialog: click NextButton\n"
           "SelectAnalysisNameDialog: type AnalysisNameText " + Quote(a.name) + "\n"
           "SelectAnalysisNameDialog: click NextButton\n"
           "SelectReportDialog: click NextButton\n";
}

int FetchResult(const Args& a) {
    if (a.job.empty() || a.dbf.empty()) throw std::runtime_error("--job and --dbf are required");
    pxcp::HouseholdDataClient::FetchResult(pxcp::HouseholdDataClient::ServiceHost(), "velmar/QuISAPISOAPGateWay.dll",
                                           a.job, a.dbf);
    std::cout << "result table of job " << a.job << " written to " << a.dbf << "\n";
    return 0;
}

int Wizard(const Args& a) {
    std::string script = a.command == "demographic" ? DemographicScript(a)
                         : a.command == "household" ? HouseholdScript(a)
                                                    : "";
    if (script.empty()) {
        if (a.script.empty()) throw std::runtime_error("--script is required");
        script = ReadFile(a.script);
    }
    auto s = HostSession::Open(a.config, a.analyses);
    pxcp::RegisterPXCPClasses();
    s.AddBasemap();
    auto driver = std::make_shared<forms::ScriptedDriver>();
    driver->LoadScript(script);
    driver->SetEcho(&std::cout);
    forms::SetDriver(driver);
    FunctionRunner::SetSink(MakeTerminalProgress());

    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(s.dataManager, s.application);
    AnalysisPtr source;
    PropertySetPtr settings = s.pageSettings;
    if (!a.reopen.empty()) {
        source = s.dataManager->GetAnalysis(a.reopen);
        if (!source) throw std::runtime_error("there is no analysis named " + a.reopen);
        // A re-opened analysis brings back the choices it was made with.
        settings->FromXml(source->Properties()->ToXml());
    }
    Variant src(source ? Variant(source) : Variant(nullptr)), ps(settings);
    task->SetParam("SourceAnalysis", src);
    task->SetParam("PropertySet", ps);
    task->InitParamSelector();
    long result = task->DoParamSelector();
    std::cout << "wizard result: " << result << "\n";
    int rc = 0;
    if (result == 1) {
        bool ok = task->InitFunction() && task->StartFunction();
        long err = task->LastError();
        std::cout << "analysis " << (ok && err == 0 ? "finished" : "failed") << " (error " << err << ")\n";
        rc = ok && err == 0 ? 0 : 1;
        auto main = std::dynamic_pointer_cast<pxcp::PXCPMain>(task);
        auto sub = main ? std::dynamic_pointer_cast<pxcp::PXCPDemographicData>(main->SubTask()) : nullptr;
        auto hh = main ? std::dynamic_pointer_cast<pxcp::PXCPHouseholdData>(main->SubTask()) : nullptr;
        gis::FeatureLayerPtr result = sub ? sub->resultLayer : hh ? hh->resultLayer : nullptr;
        if (hh && !hh->errorText.empty()) std::cerr << "plexa: " << hh->errorText << "\n";
        if (result) {
            auto fc = result->featureClass;
            std::cout << "areas found: " << fc->RowCount(nullptr) << "\n"
                      << "output: " << fc->DataPath() << "\n";
            if (sub) std::cout << "analysis folder: " << sub->Analysis()->Folder() << "\n";
            if (hh && !hh->jobId.empty())
                std::cout << "job id: " << hh->jobId << " (fetch it with: plexa fetch-result --job " << hh->jobId
                          << " --dbf FILE)\n";
        } else if (rc == 0) {
            rc = 1;
        }
        if (!a.png.empty() && result) {
            gis::RenderMapToPng(*s.application->FocusMap(), a.png, a.width, a.height);
            std::cout << "map written to " << a.png << "\n";
        }
    } else {
        rc = result == 2 || result == -1 ? 3 : 1;
    }
    task->Cleanup();
    for (auto& p : driver->Problems()) std::cerr << "script problem: " << p << "\n";
    if (!driver->Problems().empty() && rc == 0) rc = 4;
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    host::platform::InitLocaleFromEnvironment();
    Args a;
    try {
        if (!Parse(argc, argv, a)) return Usage();
        if (a.command == "levels") return Levels(a);
        if (a.command == "map") return Map(a);
        if (a.command == "profile") return Profile(a);
        if (a.command == "wizard" || a.command == "demographic" || a.command == "household") return Wizard(a);
        if (a.command == "fetch-result") return FetchResult(a);
        if (a.command == "gui") {
#ifdef PLEXA_WITH_GUI
            return plexa::RunDesktop(a.config, a.analyses, argc, argv);
#else
            std::cerr << "plexa: this build has no desktop program (configure with -DPXCP_BUILD_GUI=ON)\n";
            return 1;
#endif
        }
        return Usage();
    } catch (const std::exception& e) {
        std::cerr << "plexa: " << e.what() << "\n";
        return 1;
    }
}
