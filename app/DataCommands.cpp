// Commands about data: the levels of a configuration, its check, setting a
// dataset up, the basemap picture, the customer profile and fetching a
// household result.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <tuple>

#include "CustomerProfile/CustomerProfileDialog.h"
#include "CustomerProfile/PXCPProfileFunction.h"
#include "CustomerProfile/ProfileOutputs.h"
#include "PXCP/Register.h"
#include "app/Commands.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/ConfigCheck.h"
#include "host/framework/DatasetInit.h"
#include "host/gis/LayerData.h"
#include "host/gis/MapDrawing.h"
#include "host/platform/Help.h"
#include "host/platform/Locale.h"
#include "host/platform/Printer.h"
#include "host/platform/TextFile.h"
#include "pages/LoginToQuillonDialog.h"
#include "service/HouseholdDataClient.h"

namespace fs = std::filesystem;

namespace plexa {

using namespace host;

int Levels(const Options& o) {
    auto s = OpenSession(o);
    auto& out = Console::Out();
    for (auto& d : s.config.datasets) {
        out << d->name << (d->name == s.config.currentDataset ? " (current)" : "") << "\n";
        for (auto& t : d->tasks) {
            if (t->name != "CustomerProspecting") continue;
            for (auto& e : t->subEntries) {
                const char* way = e->name == "CustomerProspecting.ByLayer"     ? "demographic"
                                  : e->name == "CustomerProspecting.Household" ? "household"
                                                                               : "";
                if (*way) out << "  " << e->caption << "  [" << way << ", layer " << e->Param("MainLayer") << "]\n";
            }
        }
    }
    return kExitOk;
}

int Map(const Options& o) {
    auto s = OpenSession(o);
    s.AddBasemap();
    gis::RenderMapToPng(*s.application->FocusMap(), o.png, o.width, o.height, {s.config.currentDataset, ""});
    Console::Out() << "map written to " << o.png << "\n";
    return kExitOk;
}

int Check(const Options& o) {
    auto problems = CheckConfiguration(o.config);
    for (auto& p : problems) Console::Out() << p.ToString() << "\n";
    if (problems.empty()) Console::Out() << o.config << ": no problems\n";
    return problems.empty() ? kExitOk : kExitFailed;
}

int DatasetInit(const Options& o) {
    DatasetInitOptions init;
    init.name = o.datasetName;
    init.idField = o.id;
    init.descField = o.desc;
    init.baseField = o.base;
    init.srs = o.srs;
    init.years = o.years;
    init.household = o.household || !o.householdKinds.empty();
    init.outPath = fs::absolute(o.out).string();
    for (auto& l : o.levels) {
        auto eq = l.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == l.size())
            throw UsageError("--level needs CAPTION=PATH (for example \"Tracts=tracts.shp\"), not \"" + l + "\"");
        DatasetInitLevel level;
        level.caption = l.substr(0, eq);
        level.source = ResolveLayerSource(l.substr(eq + 1), fs::current_path().string());
        init.levels.push_back(level);
    }
    // --household-kind KIND for every level, or CAPTION=KIND for one.
    for (auto& k : o.householdKinds) {
        auto eq = k.find('=');
        bool found = eq == std::string::npos;
        for (auto& level : init.levels)
            if (eq == std::string::npos) level.householdKind = k;
            else if (k.compare(0, eq, level.caption) == 0) level.householdKind = k.substr(eq + 1), found = true;
        if (!found) throw UsageError("--household-kind " + k + " names no level given with --level");
    }
    if (fs::exists(o.out) && !o.force)
        throw Failure(o.out + " exists already; give --force to replace it");
    if (!fs::is_directory(fs::path(init.outPath).parent_path()))
        throw Failure("the folder of " + o.out + " does not exist");
    std::string text;
    try {
        text = MakeDatasetConfiguration(init);
    } catch (const std::exception& e) {
        throw Failure(e.what());
    }
    // Checked beside the file, where its relative sources lead, before it
    // replaces anything: a configuration the check refuses is never written.
    fs::path scratch = fs::path(init.outPath).parent_path() /
                       (".plexa-init-" + std::to_string(::getpid()) + "-" + fs::path(init.outPath).filename().string());
    if (!platform::WriteFileAtomically(scratch.string(), text)) throw Failure("could not write " + o.out + " (disk full?)");
    auto problems = CheckConfiguration(scratch.string());
    std::error_code ec;
    fs::remove(scratch, ec);
    if (!problems.empty())
        throw Failure("the configuration for " + o.out + " would not pass plexa check (line " +
                      std::to_string(problems.front().line) + ": " + problems.front().message + "); nothing was written");
    if (!platform::WriteFileAtomically(o.out, text)) throw Failure("could not write " + o.out + " (disk full?)");
    Console::Out() << "dataset configuration written to " << o.out << " (" << init.levels.size()
                   << (init.levels.size() == 1 ? " level" : " levels") << "); see its levels with: plexa levels --config "
                   << o.out << "\n";
    return kExitOk;
}

namespace {
// A profile value with three significant digits at least and one decimal at
// least: a share of 0.656 stays 0.656, an average of 6674.14 reads 6674.1.
std::string SignificantText(double value) {
    int decimals = 1;
    if (value != 0 && std::isfinite(value))
        decimals = std::max(1, 2 - static_cast<int>(std::floor(std::log10(std::fabs(value)))));
    return platform::FormatFixed(value, std::min(decimals, 15));
}
}  // namespace

// The average customer profile of a point layer over the areas of a level.
int Profile(const Options& o) {
    auto s = OpenSession(o);
    pxcp::RegisterPXCPClasses();
    auto entry = FindLevel(s, o.level, "ByLayer");
    auto query = s.extension->GetDataQuery(entry->Param("MainLayer"));
    if (!query) throw Failure("the level's main layer " + entry->Param("MainLayer") + " is not configured");
    int year = o.year ? o.year : 1;
    long years = std::max<long>(1, entry->years->Count());
    if (year > years)
        throw UsageError("--year must be between 1 and " + std::to_string(years) + " for " + o.level);

    gis::FeatureClassPtr fc;
    try {
        fc = gis::OpenLayerSource(gis::LayerSource::Parse(o.customers));
    } catch (const std::exception& e) {
        throw Failure(std::string("the customer layer cannot be used: ") + e.what());
    }
    if (!fc->HasShape()) throw Failure("the customer layer " + o.customers + " is a table without shapes");
    if (fc->ShapeType() != gis::kGeomPoint && fc->ShapeType() != gis::kGeomMultipoint)
        throw Failure("the customer layer " + o.customers +
                      " holds areas or lines, not points: customers must be a point layer");
    if (!o.customersSrs.empty()) {
        gis::SpatialReferencePtr given;
        try {
            given = gis::SpatialReference::FromUserInput(o.customersSrs);
        } catch (const std::exception& e) {
            throw UsageError(std::string("--customers-srs: ") + e.what());
        }
        // Only for a layer without one: another over its own would move
        // every customer without a word.
        auto own = fc->GetSpatialReference();
        if (own && !own->IsSame(*given))
            throw UsageError("the customer layer " + o.customers + " has its own coordinate system " + own->Name() +
                             ", not " + o.customersSrs + ": leave out --customers-srs, or correct the layer's own");
        fc->AssignSpatialReference(given);
    }
    if (!fc->GetSpatialReference())
        throw Failure("the layer " + o.customers + " " + gis::NoCoordinateSystem("with --customers-srs EPSG:N"));
    auto layer = std::make_shared<gis::FeatureLayer>();
    layer->featureClass = fc;
    layer->name = fc->Name();

    // The characteristics as the profile page lists them for the year, all
    // of them ticked.
    std::string key = std::to_string(year);
    std::string yearCaption = year - 1 < entry->years->Count() ? entry->years->Item(year - 1) : key;
    auto made = pxcp::MakeCharacteristicRows(*entry, query->Fields().get(), static_cast<int16_t>(year));
    auto rows = made.rows;
    for (long i = 1; i <= rows->Count(); ++i) rows->Item(i).As<Collection>()->Replace("2", 1);
    if (!made.lacking.second.empty())
        std::cerr << "plexa: note: " << made.lacking.first << " / " << made.lacking.second << " has no field for "
                  << yearCaption << " in the configuration; it and the characteristics after it are not profiled\n";
    auto f = CreateObjectAs<pxcp::PXCPProfileFunction>("PXCP.PXCPProfileFunction");
    auto set = [&](const char* k, Variant v) { f->SetParam(k, v); };
    set("Application", s.application);
    set("CustomerLayer", layer);
    set("SelectedOnly", false);
    set("CustomerProspectingTask", entry);
    set("ParamsCollection", rows);
    set("YearIndex", static_cast<int16_t>(year));
    set("DemogrLayerID", entry->Param("MainLayer"));
    set("DataQueryObject", query);
    set("CharacteristicsGrid", rows);
    if (!f->Init()) throw Failure("the profile could not be set up (year " + key + ")");
    long code = FunctionRunner().Run(*f, "Clock AVI", "Analysis", "Computing the customer profile...");
    if (code == FunctionRunner::kCancelled) throw Failure("the profile was cancelled", kExitCancelled);
    if (code != FunctionRunner::kCompleted || f->LastError() != 0) {
        std::string why = Console::LastReportedError();
        throw Failure("the profile could not be computed" + (why.empty() ? "" : ": " + why));
    }
    auto& out = Console::Out();
    out << "Customer profile of " << layer->name << " over " << o.level << " (" << yearCaption << ")\n"
        << "customers read: " << f->CustomersRead() << ", inside an area: " << f->CustomersInside()
        << ", outside every area: " << f->CustomersRead() - f->CustomersInside() << "\n";
    if (f->CustomersInside() == 0)
        std::cerr << "plexa: warning: no customer lies inside an area of " << o.level
                  << "; are the customers and the level in the same place?\n";
    for (long i = 1; i <= rows->Count(); ++i) {
        auto r = rows->Item(i).As<Collection>();
        // A characteristic that could not be profiled shows why, not a value.
        auto average = f->ExactAverage(i);
        std::string shown = !r->Item("3").ToLong()    ? std::string("(not in the data for this year)")
                            : r->Contains("Reason") ? r->Item("Reason").ToString()
                            : !average              ? r->Item("Value").ToString()
                                                    : SignificantText(*average);
        if (r->Item("3").ToLong() && !r->Item("Chance").ToString().empty()) shown += " " + r->Item("Chance").ToString();
        out << "  " << r->Item("0").ToString() << " / " << r->Item("1").ToString() << ": " << shown << "\n";
    }
    pxcp::CustomerProfileState state;
    state.header1 = "Study area: " + s.config.currentDataset;
    state.header2 = "Customers: " + layer->name;
    state.header3 = o.level + ", " + yearCaption;
    state.rows = rows;
    if (!o.dbf.empty()) {
        auto driver = std::make_shared<forms::ScriptedDriver>();  // the named table is replaced: Yes
        forms::SetDriver(driver);
        if (!pxcp::WriteProfileTable(*rows, o.dbf)) {
            std::string why = Console::LastReportedError();
            throw Failure("the profile table " + o.dbf + " could not be written" + (why.empty() ? "" : ": " + why));
        }
        out << "profile table written to " << o.dbf << "\n";
    }
    if (!o.pdf.empty()) {
        platform::Printer printer(o.pdf);
        pxcp::PrintProfile(printer, state, 1);
        out << "profile printed to " << o.pdf << "\n";
    }
    return kExitOk;
}

int FetchResult(const Options& o) {
    // The account that submitted the job: the one named, or the remembered login.
    std::string user = o.user, password;
    if (user.empty()) {
        std::tie(user, password) = pxcp::LoginToQuillonDialog::StoredCredentials();
        if (user.empty())
            throw UsageError("no login to the household-data service is remembered: give --user NAME "
                             "(the password comes from PLEXA_PASSWORD or is asked for)");
    } else {
        password = ReadPassword(user);
    }
    try {
        pxcp::HouseholdDataClient::FetchResult(pxcp::HouseholdDataClient::ServiceHost(),
                                               "velmar/QuISAPISOAPGateWay.dll", o.job, o.dbf, user, password);
    } catch (const std::exception& e) {
        throw Failure(e.what());
    }
    Console::Out() << "result table of job " << o.job << " written to " << o.dbf << "\n";
    return kExitOk;
}

int Help(const Options& o) {
    auto& out = Console::Out();
    auto topics = platform::HelpTopics();
    if (topics.empty()) throw Failure("the help pages are not installed (PLEXA_HELP_DIR names their folder)");
    auto list = [&] {
        std::string names;
        for (auto& t : topics) names += (names.empty() ? "" : ", ") + t.id;
        return names;
    };
    if (o.topic.empty()) {
        out << "Help topics (plexa help TOPIC):\n";
        for (auto& t : topics) out << "  " << t.id << std::string(t.id.size() < 28 ? 28 - t.id.size() : 1, ' ') << t.title << "\n";
        return kExitOk;
    }
    auto topic = platform::FindHelpTopic(o.topic);
    if (!topic) throw UsageError("there is no help topic " + o.topic + "; the topics are " + list());
    out << platform::HelpTopicText(*topic);
    return kExitOk;
}

}  // namespace plexa
