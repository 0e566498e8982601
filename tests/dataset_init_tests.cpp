// plexa dataset init: configurations written for the analyst's own layers
// load, pass the check, and run the demographic way.
#include <gtest/gtest.h>

#include <cpl_string.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPMain.h"
#include "PXCP/Register.h"
#include "TestSupport.h"
#include "host/forms/Forms.h"
#include "host/framework/ConfigCheck.h"
#include "host/framework/DatasetInit.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {


class DatasetInitTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
    }
    DatasetInitOptions Options(const std::string& caption, const std::string& source, const std::string& base = "") {
        DatasetInitOptions o;
        o.name = "Mine";
        o.levels = {{caption, source, ""}};
        o.baseField = base;
        o.outPath = dir / "config.xml";
        return o;
    }
    // Writes the configuration and loads it as the host does.
    HostConfiguration Make(const DatasetInitOptions& o) {
        text = MakeDatasetConfiguration(o);
        std::ofstream(o.outPath) << text;
        return LoadHostConfiguration(o.outPath);
    }
    std::string Refusal(const DatasetInitOptions& o) {
        try {
            MakeDatasetConfiguration(o);
        } catch (const RuntimeError& e) {
            return e.what();
        }
        return "(accepted)";
    }
    static TaskEntryPtr Entry(const HostConfiguration& c, const std::string& way, size_t n = 0) {
        for (auto& e : c.datasets.front()->Task(0)->subEntries)
            if (e->name == way && n-- == 0) return e;
        return nullptr;
    }
    static TargetDefPtr Target(const TaskEntryPtr& e, const std::string& name) {
        for (auto& c : e->categories)
            if (auto t = c->TargetByName(name)) return t;
        return nullptr;
    }
    // Every field a level names is on its layer.
    static void ExpectFieldsExist(const HostConfiguration& c) {
        for (auto& layer : c.datasets.front()->layers) {
            auto fc = DataWorkspace::OpenLayer(*layer, nullptr);
            EXPECT_GE(fc->FindField(layer->idField), 0);
            EXPECT_GE(fc->FindField(layer->descField), 0);
            for (auto& e : c.datasets.front()->Task(0)->subEntries) {
                if (e->Param("MainLayer") != layer->name || e->name != "CustomerProspecting.ByLayer") continue;
                std::set<std::string> ids;
                for (auto& cat : e->categories) {
                    EXPECT_LE(cat->TargetCount(), 8);
                    EXPECT_TRUE(ids.insert(cat->id).second) << cat->id;
                    for (auto& t : cat->targets) {
                        EXPECT_FALSE(t->numberFields.empty()) << t->name;
                        for (auto& [year, f] : t->numberFields) EXPECT_GE(fc->FindField(f), 0) << f;
                        for (auto& [year, f] : t->percentFields) EXPECT_GE(fc->FindField(f), 0) << f;
                    }
                }
            }
        }
    }
    ScratchDir dir;
    std::string text;
};

TEST_F(DatasetInitTest, CountyFamiliesBecomeYearsAndCountsTakeTheBaseOfTheirYear) {
    auto c = Make(Options("NC Counties", SampleDir() + "/nc.shp", "BIR74"));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- Written by plexa dataset init", 0), 0u);
    EXPECT_EQ(c.currentDataset, "Mine");
    EXPECT_EQ(c.basemapLayer, "NC_Counties");
    auto layer = c.datasets.front()->LayerByName("NC_Counties");
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->source, SampleDir() + "/nc.shp");  // outside the configuration's folder: absolute
    EXPECT_EQ(layer->idField, "FIPS");
    EXPECT_EQ(layer->descField, "NAME");
    EXPECT_TRUE(layer->srs.empty());

    auto e = Entry(c, "CustomerProspecting.ByLayer");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->levelName, "NC County");  // level names are singular
    EXPECT_NE(e->typeText, "");  // a profile of another level is not offered here
    EXPECT_EQ(e->years->Items(), (std::vector<std::string>{"1974", "1979"}));  // two-digit years read as years
    EXPECT_EQ(e->additionalFields->Items(), (std::vector<std::string>{"NAME", "FIPS"}));
    EXPECT_FALSE(Target(e, "SID74"));  // one target per family
    EXPECT_FALSE(Target(e, "FIPS"));   // the key is no target
    for (const char* name : {"SID", "NWBIR"}) {
        auto t = Target(e, name);
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(t->Property("CanPercent"), "True");
        EXPECT_EQ(t->numberFields.at("1"), name + std::string("74"));
        EXPECT_EQ(t->numberFields.at("2"), name + std::string("79"));
        EXPECT_EQ(t->percentFields, (std::map<std::string, std::string>{{"1", "BIR74"}, {"2", "BIR79"}}));
    }
    EXPECT_EQ(e->Category(0)->id, "Counts");
    EXPECT_EQ(e->Category(0)->TargetCount(), 2);
    // The base itself, shares, keys, and whole numbers larger than the base are plain numbers.
    for (const char* name : {"BIR", "AREA", "CNTY_ID", "CRESS_ID", "FIPSNO", "CNTY_"}) {
        auto t = Target(e, name);
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(t->Property("CanPercent"), "False") << name;
        EXPECT_TRUE(t->percentFields.empty()) << name;
    }
    EXPECT_EQ(Target(e, "AREA")->numberFields, (std::map<std::string, std::string>{{"1", "AREA"}, {"2", "AREA"}}));
    EXPECT_EQ(c.datasets.front()->Task(1)->SubEntry(0)->Param("ID"), "4267");
    ExpectFieldsExist(c);
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();

    // The base named by its family, or by another member, gives the same.
    for (const char* base : {"BIR", "bir79"}) {
        auto again = Make(Options("NC Counties", SampleDir() + "/nc.shp", base));
        EXPECT_EQ(Target(Entry(again, "CustomerProspecting.ByLayer"), "SID")->percentFields.at("2"), "BIR79") << base;
    }
    // Without a base nothing is a percentage.
    auto plain = Make(Options("NC Counties", SampleDir() + "/nc.shp"));
    for (auto& cat : Entry(plain, "CustomerProspecting.ByLayer")->categories)
        for (auto& t : cat->targets) EXPECT_EQ(t->Property("CanPercent"), "False") << t->name;
}

TEST_F(DatasetInitTest, BostonValueClassesAreCountsOfTheUnits) {
    auto c = Make(Options("Tracts", SampleDir() + "/boston_tracts.shp", "units"));
    auto layer = c.datasets.front()->layers.front();
    EXPECT_EQ(layer->idField, "poltract");
    EXPECT_EQ(layer->descField, "TOWN");
    auto e = Entry(c, "CustomerProspecting.ByLayer");
    EXPECT_EQ(e->years->Items(), (std::vector<std::string>{"Current"}));
    for (const char* name : {"cu5k", "c5_7_5", "C7_5_10", "C10_15", "C15_20", "C20_25", "C25_35", "C35_50", "co50k"}) {
        auto t = Target(e, name);
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(t->Property("CanPercent"), "True") << name;
        EXPECT_EQ(t->percentFields.at("1"), "units");
    }
    // Nine counts: the page takes eight.
    EXPECT_EQ(e->Category(0)->TargetCount(), 8);
    EXPECT_EQ(e->Category(1)->id, "Counts 2");
    // Shares, statistics, keys and counts of something larger (people, dollars) are not.
    for (const char* name : {"LSTAT", "CRIM", "MEDV", "median", "NOX_ID", "TAX", "POP", "units"})
        EXPECT_EQ(Target(e, name)->Property("CanPercent"), "False") << name;
    ExpectFieldsExist(c);
}

TEST_F(DatasetInitTest, GeoJsonAndGeoPackageLayersWork) {
    // GeoJSON mixing polygons and multipolygons states no one shape type.
    Translate(SampleDir() + "/nc.shp", dir / "nc.geojson", {"-f", "GeoJSON"});
    Translate(SampleDir() + "/nc.shp", dir / "nc.gpkg", {"-f", "GPKG", "-nln", "counties", "-nlt", "MULTIPOLYGON"});
    // A GeoPackage layer whose system is undefined has none: made from the
    // shapefile without its .prj (GDAL 3.6 leaks the text of "-a_srs NONE").
    for (const char* ext : {".shp", ".shx", ".dbf"})
        std::filesystem::copy_file(SampleDir() + "/nc" + ext, dir / (std::string("plain") + ext));
    Translate(dir / "plain.shp", dir / "nc.gpkg", {"-update", "-nln", "nosrs", "-nlt", "MULTIPOLYGON"});
    EXPECT_NE(Refusal(Options("Counties", dir / "nc.gpkg|nosrs")).find("has no coordinate system"), std::string::npos);
    auto o = Options("NC Counties", dir / "nc.geojson", "BIR74");
    o.levels.push_back({"NC-Counties", dir / "nc.gpkg|counties", ""});
    auto c = Make(o);
    auto& layers = c.datasets.front()->layers;
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[1]->name, "NC_Counties_2");
    EXPECT_NE(text.find("source=\"nc.geojson\""), std::string::npos);
    EXPECT_NE(text.find("source=\"nc.gpkg|counties\""), std::string::npos);
    EXPECT_EQ(layers[1]->source, dir / "nc.gpkg|counties");
    EXPECT_EQ(Target(Entry(c, "CustomerProspecting.ByLayer", 1), "SID")->percentFields.at("1"), "BIR74");
    EXPECT_EQ(Entry(c, "CustomerProspecting.ByLayer", 1)->Param("MainLayer"), "NC_Counties_2");
    ExpectFieldsExist(c);
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();
}

TEST_F(DatasetInitTest, CoordinateSystemsAreGivenNeverGuessed) {
    for (const char* ext : {".shp", ".shx", ".dbf"}) fs::copy_file(SampleDir() + "/nc" + ext, dir / (std::string("nc") + ext));
    auto o = Options("Counties", dir / "nc.shp");
    EXPECT_EQ(Refusal(o), "The layer of level Counties (" + dir / "nc.shp" +
                              ") has no coordinate system: give it one with --srs EPSG:N");
    o.srs = "EPSG:4267";
    auto c = Make(o);
    auto layer = c.datasets.front()->layers.front();
    EXPECT_EQ(layer->srs, "EPSG:4267");
    EXPECT_NE(text.find("source=\"nc.shp\""), std::string::npos);
    EXPECT_EQ(DataWorkspace::OpenLayer(*layer, nullptr)->GetSpatialReference()->EpsgCode(), 4267);
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();

    // A layer's own system is kept: the same one given is no change, another is refused.
    auto own = Options("Counties", SampleDir() + "/nc.shp");
    own.srs = "EPSG:4267";
    EXPECT_TRUE(Make(own).datasets.front()->layers.front()->srs.empty());
    own.srs = "EPSG:4326";
    EXPECT_EQ(Refusal(own), "The layer of level Counties (" + SampleDir() +
                                "/nc.shp) has its own coordinate system NAD27 (EPSG:4267), not EPSG:4326 given with "
                                "--srs; its own is kept: leave out --srs, or correct the layer's coordinate system (its "
                                ".prj file) if that one is wrong");
    own.srs = "EPSG:99999999";
    EXPECT_EQ(Refusal(own), "--srs EPSG:99999999 is not a coordinate system GDAL knows: give one as EPSG:N");
}

TEST_F(DatasetInitTest, UnusableLayersAndFieldsAreRefusedWithTheFix) {
    EXPECT_EQ(Refusal(Options("Customers", SampleDir() + "/zipcodes.shp")),
              "The layer of level Customers (" + SampleDir() +
                  "/zipcodes.shp) holds points, not polygons: a level needs the polygons of its areas");
    EXPECT_EQ(Refusal(Options("Counties", dir / "none.shp")).rfind("The layer of level Counties (" + dir / "none.shp" + ") cannot be opened: ", 0), 0u);

    auto o = Options("Counties", SampleDir() + "/nc.shp");
    o.idField = "GEOID";
    EXPECT_EQ(Refusal(o), "The layer of level Counties (" + SampleDir() +
                              "/nc.shp) has no field GEOID (given with --id); its fields are: AREA, PERIMETER, CNTY_, "
                              "CNTY_ID, NAME, FIPS, FIPSNO, CRESS_ID, BIR74, SID74, NWBIR74, BIR79, SID79, NWBIR79");
    o.idField = "cnty_id";  // spelt as in the data
    EXPECT_EQ(Make(o).datasets.front()->layers.front()->idField, "CNTY_ID");
    o.baseField = "NAME";
    EXPECT_NE(Refusal(o).find("has a field NAME (given with --base) that is not numeric"), std::string::npos);

    // Nothing tells the areas apart: the key must be named.
    Translate(SampleDir() + "/nc.shp", dir / "counts.shp", {"-select", "BIR74,SID74"});
    EXPECT_EQ(Refusal(Options("Counties", dir / "counts.shp")),
              "The layer of level Counties (" + dir / "counts.shp" +
                  ") has no field whose values are all distinct and filled in, to tell its areas apart: name one with "
                  "--id FIELD; its fields are: BIR74, SID74");
}

TEST_F(DatasetInitTest, HouseholdWayHasTheStandardCategories) {
    auto o = Options("Counties", SampleDir() + "/nc.shp");
    o.household = true;
    o.levels.push_back({"Tracts", SampleDir() + "/boston_tracts.shp", ""});
    auto c = Make(o);
    auto sample = Entry(LoadHostConfiguration(SourceDir() + "/data/nc.xml"), "CustomerProspecting.Household");
    ASSERT_TRUE(sample);
    for (size_t n = 0; n < 2; ++n) {
        auto e = Entry(c, "CustomerProspecting.Household", n);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Param("MainLayer"), n == 0 ? "Counties" : "Tracts");
        EXPECT_EQ(e->params.size(), sample->params.size());
        for (auto& [key, value] : sample->params)
            EXPECT_EQ(e->Param(key), key == "MainLayer" ? e->Param(key) : value) << key;
        ASSERT_EQ(e->CategoryCount(), sample->CategoryCount());
        for (long i = 0; i < e->CategoryCount(); ++i) {
            auto mine = e->Category(i), theirs = sample->Category(i);
            EXPECT_EQ(mine->id, theirs->id);
            EXPECT_EQ(mine->caption, theirs->caption);
            ASSERT_EQ(mine->TargetCount(), theirs->TargetCount());
            for (long j = 0; j < mine->TargetCount(); ++j) {
                EXPECT_EQ(mine->Target(j)->name, theirs->Target(j)->name);
                EXPECT_EQ(mine->Target(j)->caption, theirs->Target(j)->caption);
            }
        }
    }
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();
}

// Two real layers with several families of fields by period; neither has
// a coordinate system of its own.
TEST_F(DatasetInitTest, StLouisSpansBecomeTheYearsAndCovariatesFollowInStep) {
    auto o = Options("Counties", SampleDir() + "/stl_hom.shp", "PO");
    o.srs = "EPSG:4269";
    auto c = Make(o);
    auto e = Entry(c, "CustomerProspecting.ByLayer");
    EXPECT_EQ(e->years->Items(),
              (std::vector<std::string>{"1979\xE2\x80\x93" "84", "1984\xE2\x80\x93" "88", "1988\xE2\x80\x93" "93"}));
    auto hc = Target(e, "HC");  // homicide counts, a share of the population of their span
    ASSERT_TRUE(hc);
    EXPECT_EQ(hc->Property("CanPercent"), "True");
    EXPECT_EQ(hc->numberFields, (std::map<std::string, std::string>{{"1", "HC7984"}, {"2", "HC8488"}, {"3", "HC8893"}}));
    EXPECT_EQ(hc->percentFields.at("3"), "PO8893");
    EXPECT_EQ(Target(e, "HR")->Property("CanPercent"), "False");  // a rate
    // Measured in years of their own, one for each span in order; the caption says which.
    auto pe = Target(e, "PE");
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->caption, "PE (1977, 1982, 1987)");
    EXPECT_EQ(pe->numberFields.at("1"), "PE77");
    EXPECT_EQ(Target(e, "RDAC")->numberFields.at("3"), "RDAC90");
    EXPECT_EQ(Target(e, "FIPSNO")->Property("CanPercent"), "False");  // a key by its name, not a count
    ExpectFieldsExist(c);
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();
}

TEST_F(DatasetInitTest, MexicoKeepsItsLatestThreeDecadesAndTheOlderOnesAsCategories) {
    auto o = Options("States", SampleDir() + "/mexicojoin.shp");
    o.srs = "EPSG:4326";
    auto c = Make(o);
    auto e = Entry(c, "CustomerProspecting.ByLayer");
    EXPECT_EQ(e->years->Items(), (std::vector<std::string>{"1980", "1990", "2000"}));
    EXPECT_EQ(Target(e, "PCGDP")->numberFields,
              (std::map<std::string, std::string>{{"1", "PCGDP1980"}, {"2", "PCGDP1990"}, {"3", "PCGDP2000"}}));
    // LPCGDP00 is of 2000, as PCGDP2000 beside it.
    EXPECT_EQ(Target(e, "LPCGDP")->numberFields.at("3"), "LPCGDP00");
    // Growth since a decade up to 2000 is no series of periods: plain fields.
    for (const char* name : {"GR4000", "GR9000", "HANSON98", "HANSON03"})
        EXPECT_EQ(Target(e, name) ? Target(e, name)->numberFields.at("1") : "", name);
    // An older decade is a category; its targets query their own fields in every year.
    auto c1940 = e->CategoryById("1940");
    ASSERT_TRUE(c1940);
    ASSERT_TRUE(c1940->TargetByName("PCGDP1940"));
    EXPECT_EQ(c1940->TargetByName("PCGDP1940")->caption, "PCGDP 1940");
    EXPECT_EQ(c1940->TargetByName("LPCGDP40")->numberFields.at("2"), "LPCGDP40");
    EXPECT_NE(text.find("The periods 1940, 1950, 1960, 1970 are not years of this level"), std::string::npos);
    ExpectFieldsExist(c);
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();

    // Other years when asked; more than three, or one the data has not, are refused.
    o.years = {"1940", "70", "2000"};
    auto chosen = Entry(Make(o), "CustomerProspecting.ByLayer");
    EXPECT_EQ(chosen->years->Items(), (std::vector<std::string>{"1940", "1970", "2000"}));
    EXPECT_EQ(Target(chosen, "PCGDP")->numberFields.at("2"), "PCGDP1970");
    EXPECT_TRUE(chosen->CategoryById("1980"));
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();
    o.years = {"1930"};
    EXPECT_NE(Refusal(o).find("has no period 1930 (given with --years); its periods are: 1940, 1950"), std::string::npos);
    o.years = {"1940", "1950", "1960", "1970"};
    EXPECT_EQ(Refusal(o), "--years names 4 periods; the data page offers three: name at most three");
    auto boston = Options("Tracts", SampleDir() + "/boston_tracts.shp");
    boston.years = {"1990"};
    EXPECT_NE(Refusal(boston).find("no level has such fields: leave out --years"), std::string::npos);
}

// The kind the household-data service counts by comes from the keys, not
// from a caption such as "BG".
TEST_F(DatasetInitTest, HouseholdKindComesFromTheKeysOrTheOption) {
    // Block-group keys: the county's code and seven digits more.
    Translate(SampleDir() + "/nc.shp", dir / "bg.shp",
              {"-dialect", "SQLite", "-sql", "SELECT FIPS || '1234567' AS GEOID, NAME, BIR74, Geometry FROM nc"});
    auto o = Options("BG", dir / "bg.shp");
    o.household = true;
    EXPECT_EQ(Entry(Make(o), "CustomerProspecting.Household")->levelName, "Block group");
    for (auto& p : CheckConfiguration(dir / "config.xml")) ADD_FAILURE() << p.ToString();

    // Five digits may be counties or ZIP codes: the caption, the key's name or the option says.
    Translate(SampleDir() + "/nc.shp", dir / "five.shp",
              {"-dialect", "SQLite", "-sql", "SELECT FIPS AS GEOID, NAME, Geometry FROM nc"});
    auto five = Options("Areas", dir / "five.shp");
    five.household = true;
    EXPECT_EQ(Refusal(five), "The layer of level Areas (" + dir / "five.shp" +
                                 ") has keys (GEOID) of 5 digits, which may be counties or ZIP codes: give the kind with "
                                 "--household-kind \"Areas=County\" or \"Areas=ZIP code\"");
    five.levels.front().householdKind = "counties";
    EXPECT_EQ(Entry(Make(five), "CustomerProspecting.Household")->levelName, "County");
    five.levels.front().householdKind = "Parish";
    EXPECT_NE(Refusal(five).find("is given the kind Parish with --household-kind, which the household-data service does not count by"),
              std::string::npos);
    auto counties = Options("Counties", dir / "five.shp");
    counties.household = true;
    EXPECT_EQ(Entry(Make(counties), "CustomerProspecting.Household")->levelName, "County");
}

// The written configuration runs the demographic way as it is.
TEST_F(DatasetInitTest, CountiesRunTheDemographicWay) {
    auto o = Options("Counties", SampleDir() + "/nc.shp", "BIR74");
    Make(o);
    auto session = HostSession::Open(o.outPath, dir / "analyses");
    pxcp::RegisterPXCPClasses();
    auto driver = std::make_shared<forms::ScriptedDriver>();
    forms::SetDriver(driver);
    forms::MessageLog().clear();
    driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: click PercentagesOption
SelectDemographicDataDialog: toggle CategoryList "Counts" on
SelectDemographicDataDialog: type FloorText(0) 0.3
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText "High SIDS"
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)");
    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(session.dataManager, session.application);
    Variant ps(session.pageSettings), none(nullptr);
    task->SetParam("PropertySet", ps);
    task->SetParam("SourceAnalysis", none);
    ASSERT_EQ(task->DoParamSelector(), 1);
    EXPECT_TRUE(driver->Problems().empty()) << driver->Problems().front();
    EXPECT_TRUE(task->InitFunction());
    EXPECT_TRUE(task->StartFunction());
    EXPECT_EQ(task->LastError(), 0);
    auto sub = std::dynamic_pointer_cast<pxcp::PXCPDemographicData>(std::dynamic_pointer_cast<pxcp::PXCPMain>(task)->SubTask());
    ASSERT_TRUE(sub && sub->resultLayer);
    // SID74 at least 0.3 % of BIR74, as with the sample configuration.
    EXPECT_EQ(sub->resultLayer->featureClass->RowCount(nullptr), 18);
}

}  // namespace
