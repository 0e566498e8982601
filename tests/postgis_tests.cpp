// Data in a shared PostGIS database, against the server the tests start:
// the worker's clause and extent run by the server, outputs that nobody
// sees half-written, and one clear line for each way a database fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

#include "PXCP/PXCPDemographicDataFunction.h"
#include "PXCP/PXCPHouseholdDataFunction.h"
#include "PostgisServer.h"
#include "TestSupport.h"
#include "host/framework/AnalysisList.h"
#include "host/framework/ConfigCheck.h"
#include "host/gis/LayerExport.h"
#include "host/gis/LayerSource.h"
#include "host/gis/PgConnection.h"

using namespace host;
using namespace pxtest;

namespace {

class PostgisTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = PostgisServer::Use();
        schema = PostgisServer::FreshSchema("t");
    }
    void TearDown() override { server.Query("DROP SCHEMA IF EXISTS " + schema + " CASCADE"); }

    // The tables of the test's schema, by name, comma-separated.
    std::string Tables() const {
        return server.Query("SELECT string_agg(relname, ',' ORDER BY relname) FROM pg_class c JOIN pg_namespace n ON "
                            "n.oid = c.relnamespace WHERE nspname = '" + schema + "' AND relkind = 'r'");
    }
    long Rows(const std::string& table) const {
        return std::atol(server.Query("SELECT count(*) FROM " + schema + "." + table).c_str());
    }
    // An output of `rows` squares written into the dataset "Result" of an
    // analysis workspace, not yet committed.
    gis::WorkspacePtr WriteOutput(const std::string& prefix, int rows) const {
        auto ws = gis::Workspace::OpenPostGIS(server.Connection(schema), prefix);
        gis::Fields fields;
        auto shape = gis::NewField("shape", gis::kFieldGeometry, "geometry");
        shape->geometryDef.type = gis::kGeomPolygon;
        shape->geometryDef.spatialReference = gis::SpatialReference::FromEPSG(4267);
        fields.AddField(shape);
        fields.AddField(gis::NewField("NAME", gis::kFieldString, "NAME", 20));
        fields.AddField(gis::NewField("Result", gis::kFieldString, "Result", 10));
        auto fc = ws->CreateFeatureClass("Result", fields, "shape");
        auto insert = fc->Insert(true);
        auto row = insert->CreateBuffer();
        for (int i = 0; i < rows; ++i) {
            row->SetShape(*gis::Geometry::MakeEnvelopePolygon({-80.0 + i, 35, -79.5 + i, 35.5, false}, shape->geometryDef.spatialReference));
            row->SetValue(fc->FindField("NAME"), "area " + std::to_string(i));
            row->SetValue(fc->FindField("Result"), "Match");
            insert->Insert(*row);
        }
        insert->Flush();
        return ws;
    }
    PostgisServer server;
    std::string schema;
};

// A new analysis whose output is put in place and registered, as a run
// makes it.
void AddAnalysis(DataManager& analyses, const std::string& name, const gis::WorkspacePtr& output) {
    auto a = analyses.CreateAnalysis(name);
    output->CommitDataset("Result");
    a->AddLayer(output->OpenFeatureClass("Result")->DataPath());
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

std::set<std::string> Names(const gis::FeatureClassPtr& fc, const gis::QueryFilter* filter) {
    std::set<std::string> names;
    auto cursor = fc->Search(filter, false);
    while (auto row = cursor->NextRow()) names.insert(row->Value(fc->FindField("NAME")).ToString());
    return names;
}

TEST_F(PostgisTest, ANewOutputIsUnseenUntilCommittedAndThenReplacesTheOldWhole) {
    auto first = WriteOutput("Sales run_", 3);
    EXPECT_EQ(Tables(), "");
    first->CommitDataset("Result");
    EXPECT_EQ(Tables(), "sales_run_result");
    EXPECT_EQ(Rows("sales_run_result"), 3);

    auto second = WriteOutput("Sales run_", 5);
    // While the new one is written, the old one is there, whole.
    EXPECT_EQ(Rows("sales_run_result"), 3);
    second->CommitDataset("Result");
    EXPECT_EQ(Rows("sales_run_result"), 5);
    EXPECT_EQ(Tables(), "sales_run_result");
    // Its index and id sequence carry its own name, not the temporary one.
    EXPECT_EQ(server.Query("SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE nspname = '" +
                           schema + "' AND relname LIKE '%\\_new\\_%'"),
              "0");

    // Read back like any layer: the field names as the analysis gave them.
    auto fc = second->OpenFeatureClass("Result");
    EXPECT_EQ(fc->RowCount(nullptr), 5);
    EXPECT_GE(fc->FindField("NAME"), 0);
    EXPECT_EQ(fc->GetFields()->GetField(fc->FindField("Result"))->name, "Result");
    EXPECT_TRUE(fc->HasSpatialIndex());
    EXPECT_EQ(second->DatasetNames(), std::vector<std::string>{"result"});
}

TEST_F(PostgisTest, AnOutputNeverCommittedLeavesNothingBehind) {
    WriteOutput("Broken_", 4).reset();
    EXPECT_EQ(Tables(), "");
    EXPECT_EQ(server.Query("SELECT count(*) FROM pg_class WHERE relname LIKE 'broken\\_result%'"), "0");
}

TEST_F(PostgisTest, TheWorkersClauseAndExtentRunInTheDatabase) {
    ScratchDir dir;
    Harness h(WriteConfig(dir, CountyTargetsTasks(), "NC", server.Connection("demo")));
    auto east = gis::Geometry::MakeEnvelopePolygon({-78.5, 33.5, -75.0, 37.0, false}, gis::SpatialReference::FromEPSG(4267));
    FindExtension(h.session.application)->SetBoundingGeometry(east);
    // A clause no other test sends, to find it in the server's log.
    const std::string where = "BIR74 >= 1234.5";
    auto out = gis::Workspace::OpenPostGIS(server.Connection(schema), "pushdown_");
    auto layer = std::make_shared<DatasetLayer>();
    layer->name = "Counties";
    layer->datasetName = "nc";
    pxcp::PXCPDemographicDataFunction worker;
    worker.Init();
    for (auto& [key, value] : std::vector<std::pair<const char*, Variant>>{
             {"IApplication", h.session.application},
             {"IPXDataManager", h.session.dataManager},
             {"AnalysisWorkspace", out},
             {"AnalysisFeatureclassName", "Result"},
             {"QueryString", where},
             {"AllFieldsCol", std::make_shared<StringList>(std::vector<std::string>{"BIR74"})},
             {"AdditionalFields", std::make_shared<StringList>(std::vector<std::string>{"NAME"})},
             {"MainDSLayer", layer},
             {"DefaultSR", gis::SpatialReference::FromEPSG(4267)}})
        worker.SetParam(key, value);
    ASSERT_TRUE(worker.Start());
    ASSERT_EQ(worker.LastError(), 0);
    out->CommitDataset("Result");

    // The areas are those the same search finds in the sample's shapefile:
    // the extent takes some of the clause's areas, not all.
    auto shapefile = gis::Workspace::OpenFolder(SampleDir())->OpenFeatureClass("nc");
    gis::QueryFilter clauseOnly, both;
    clauseOnly.whereClause = both.whereClause = where;
    both.geometry = east;
    auto expected = Names(shapefile, &both);
    EXPECT_EQ(Names(out->OpenFeatureClass("Result"), nullptr), expected);
    EXPECT_GT(expected.size(), 0u);
    EXPECT_LT(expected.size(), Names(shapefile, &clauseOnly).size());

    // The server read the counties with the clause and the shape test in
    // its own statement: only the matching rows came over the wire.
    std::ifstream log(server.logFile);
    std::string line, statement;
    while (std::getline(log, line))
        if (line.find(where) != std::string::npos && line.find("\"nc\"") != std::string::npos) statement = line;
    ASSERT_FALSE(statement.empty()) << "no statement on nc with the clause in " << server.logFile;
    EXPECT_NE(statement.find("WHERE"), std::string::npos) << statement;
    EXPECT_NE(statement.find("ST_Intersects(\"geom\", ST_GeomFromText('POLYGON ((-78.5 33.5"), std::string::npos) << statement;
}

// Counties kept in the database in metres (UTM zone 17) are written by the
// household way in the degrees of the system UTM is based on: read back
// through the output's own system, they lie where the sample's counties do.
TEST_F(PostgisTest, TheHouseholdOutputOfProjectedAreasLiesWhereTheAreasAre) {
    ScratchDir dir;
    server.Query("CREATE SCHEMA " + schema);
    Translate(SampleDir() + "/nc.shp", server.Connection(schema),
              {"-f", "PostgreSQL", "-update", "-t_srs", "EPSG:32617", "-nlt", "PROMOTE_TO_MULTI", "-nln", schema + ".utm"});
    auto data = gis::Workspace::OpenPostGIS(server.Connection(schema));
    auto areas = data->OpenFeatureClass("utm");
    ASSERT_TRUE(areas->GetSpatialReference()->IsProjected());
    // Every county with a count above the minimum of 0.
    gis::Fields fields;
    fields.AddField(gis::NewField("GEOG", gis::kFieldString, "", 12));
    fields.AddField(gis::NewField("TQ", gis::kFieldInteger));
    fields.AddField(gis::NewField("TOTAL", gis::kFieldInteger));
    auto table = gis::Workspace::OpenFolder(dir.Path().string())->CreateTable("counts", fields);
    auto insert = table->Insert(true);
    auto row = insert->CreateBuffer();
    auto cursor = areas->Search(nullptr, false);
    while (auto area = cursor->NextRow()) {
        row->SetValue(table->FindField("GEOG"), area->Value(areas->FindField("FIPS")).ToString());
        row->SetValue(table->FindField("TQ"), 5);
        row->SetValue(table->FindField("TOTAL"), 10);
        insert->Insert(*row);
    }
    insert->Flush();

    auto out = gis::Workspace::OpenPostGIS(server.Connection(schema), "household_");
    RegisterHostClasses();
    pxcp::PXCPHouseholdDataFunction worker;
    worker.Init();
    for (auto& [key, value] : std::vector<std::pair<const char*, Variant>>{
             {"AnalysisFeatureclassName", "Result"},
             {"AnalysisWorkspace", out},
             {"AnalysisDir", dir / ""},
             {"GeogField", "COUNTY"},
             {"DatasetID", "Test"},
             {"KeyField", "FIPS"},
             {"IsNumberTarget", true},
             {"MinimumTarget", 0.0},
             {"Wait", true},
             {"MainFeatureClass", areas},
             {"MainLayerName", "utm"},
             {"LinkDBF", true},
             {"DBFFilePath", dir / "counts.dbf"},
             {"DefaultSR", gis::SpatialReference::FromEPSG(4267)}})
        worker.SetParam(key, value);
    FunctionRunner::SetSink(MakeSilentProgress());
    FunctionRunner().Run(worker, "Clock AVI", "Analysis", "Executing analysis...");
    ASSERT_EQ(worker.LastError(), 0) << worker.ErrorText();
    out->CommitDataset("Result");
    auto result = out->OpenFeatureClass("Result");
    EXPECT_EQ(result->RowCount(nullptr), 100);
    EXPECT_EQ(result->GetSpatialReference()->EpsgCode(), 4326);
    EXPECT_EQ(server.Query("SELECT Find_SRID('" + schema + "', 'household_result', 'SHAPE')"), "4326");
    gis::Envelope want = gis::Workspace::OpenFolder(SampleDir())->OpenFeatureClass("nc")->Extent(), got = result->Extent();
    EXPECT_NEAR(got.xmin, want.xmin, 0.01);
    EXPECT_NEAR(got.ymin, want.ymin, 0.01);
    EXPECT_NEAR(got.xmax, want.xmax, 0.01);
    EXPECT_NEAR(got.ymax, want.ymax, 0.01);
}

TEST_F(PostgisTest, EachWayADatabaseFailsIsOneClearLine) {
    auto ws = gis::Workspace::OpenPostGIS(server.Connection("demo"));
    std::vector<std::pair<std::string, std::string>> cases = {
        {ErrorOf([] { gis::Workspace::OpenPostGIS("PG:dbname=plexa host=/nonexistent-folder"); }),
         "Cannot connect to the database \"plexa\" on /nonexistent-folder, schema \"public\": connection to server on socket"},
        {ErrorOf([&] { ws->OpenFeatureClass("nowhere"); }), "No table nowhere in the database \"plexa\""},
        {ErrorOf([&] { ws->OpenFeatureClass("notes"); }), "The table notes in the database \"plexa\""},
        {ErrorOf([] { gis::PgConnection::Parse("PG:dbname=plexa password=s3cret"); }), "~/.pgpass or PGPASSWORD"},
        {ErrorOf([] { gis::PgConnection::Parse("PG:dbname='plexa"); }), "has no closing quote"},
    };
    setenv("PGPASSFILE", "/dev/null", 1);
    setenv("PGPASSWORD", "wrong", 1);
    cases.emplace_back(ErrorOf([&] { gis::Workspace::OpenPostGIS(server.Connection("demo")); }),
                       "password authentication failed for user \"analyst\"");
    server = PostgisServer::Use();
    for (auto& [message, expected] : cases) {
        EXPECT_NE(message.find(expected), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_EQ(message.find("s3cret"), std::string::npos) << message;
    }
}

TEST_F(PostgisTest, TheCheckNamesTheTableThatIsMissingOrHasNoShapes) {
    ScratchDir dir;
    std::string config = WriteConfig(dir, "<Layer name=\"Notes\" dataset=\"notes\"/><Layer name=\"Gone\" dataset=\"gone\"/>",
                                      "NC", server.Connection("demo"));
    std::string all;
    for (auto& p : CheckConfiguration(config)) all += p.ToString() + "\n";
    EXPECT_NE(all.find(":6: The layer Notes cannot be opened: The table notes in the database \"plexa\""), std::string::npos) << all;
    EXPECT_NE(all.find("The layer Gone cannot be opened: No table gone"), std::string::npos) << all;
    EXPECT_EQ(all.find("Counties"), std::string::npos) << all;
}

TEST_F(PostgisTest, RemovingAnAnalysisDropsItsTableAndKeepsItWhileTheDatabaseIsAway) {
    ScratchDir dir;
    DataManager analyses({}, dir / "analyses");
    AddAnalysis(analyses, "Sales", WriteOutput("Sales_", 2));
    analyses.CreateAnalysis("Elsewhere")->AddLayer("PG:dbname=plexa host=/nonexistent-folder|elsewhere_result");
    gis::Map map;

    EXPECT_FALSE(RemoveAnalysisAndLayers(analyses, map, "Elsewhere"));
    EXPECT_TRUE(analyses.AnalysisExists("Elsewhere"));
    EXPECT_TRUE(RemoveAnalysisAndLayers(analyses, map, "Sales"));
    EXPECT_FALSE(analyses.AnalysisExists("Sales"));
    EXPECT_EQ(Tables(), "");
}

// What a run that replaces an analysis does to it: the old one goes, a new
// one under the same name gets a new table.
void ReplaceSales(DataManager& analyses, const gis::WorkspacePtr& output) {
    ASSERT_TRUE(analyses.RemoveAnalysis("Sales"));
    AddAnalysis(analyses, "Sales", output);
}

TEST_F(PostgisTest, AReplacedAnalysisGetsItsOldTableBackWhenTheRunFails) {
    ScratchDir dir;
    auto root = dir / "analyses";
    auto analyses = std::make_unique<DataManager>(std::vector<DatasetPtr>{}, root);
    AddAnalysis(*analyses, "Sales", WriteOutput("Sales_", 3));
    auto leftovers = [&] {
        return server.Query("SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE nspname = '" +
                            schema + "' AND (relname LIKE '%\\_old\\_%' OR relname LIKE '%\\_new\\_%')");
    };

    // A run that fails after its table took the old one's place.
    std::string aside = analyses->SetAside("Sales");
    ReplaceSales(*analyses, WriteOutput("Sales_", 5));
    EXPECT_EQ(Rows("sales_result"), 5);
    analyses->EndReplacement(aside, false);
    EXPECT_EQ(Tables(), "sales_result");
    EXPECT_EQ(Rows("sales_result"), 3);
    EXPECT_EQ(leftovers(), "0");
    ASSERT_TRUE(analyses->AnalysisExists("Sales"));
    auto back = gis::OpenLayerSource(gis::LayerSource::Parse(analyses->GetAnalysis("Sales")->Layers().at(0)));
    EXPECT_EQ(back->RowCount(nullptr), 3);
    EXPECT_TRUE(back->HasSpatialIndex());
    // Rows added to it are numbered on from the last, by a sequence named
    // after the table.
    EXPECT_EQ(server.Query("INSERT INTO " + schema + ".sales_result DEFAULT VALUES RETURNING ogc_fid"), "4");
    EXPECT_EQ(server.Query("SELECT pg_get_serial_sequence('" + schema + ".sales_result', 'ogc_fid')"),
              schema + ".sales_result_ogc_fid_seq");
    server.Query("DELETE FROM " + schema + ".sales_result WHERE ogc_fid = 4");

    // One that succeeds keeps its table and leaves no copy.
    aside = analyses->SetAside("Sales");
    ReplaceSales(*analyses, WriteOutput("Sales_", 5));
    analyses->EndReplacement(aside, true);
    EXPECT_EQ(Tables(), "sales_result");
    EXPECT_EQ(Rows("sales_result"), 5);
    EXPECT_EQ(leftovers(), "0");

    // One killed after it removed the old analysis, before its own: the
    // old table was never touched, and the old analysis comes back.
    aside = analyses->SetAside("Sales");
    ASSERT_TRUE(analyses->RemoveAnalysis("Sales"));
    EXPECT_EQ(Rows("sales_result"), 5);
    std::filesystem::rename(aside, aside.substr(0, aside.rfind('.')) + ".2147483647");  // no such process
    analyses.reset();  // the killed run lets go of the name
    analyses = std::make_unique<DataManager>(std::vector<DatasetPtr>{}, root);
    EXPECT_EQ(Rows("sales_result"), 5);
    EXPECT_EQ(leftovers(), "0");
    ASSERT_TRUE(analyses->AnalysisExists("Sales"));

    // One killed before its analysis was whole: the next start puts the
    // old table back.
    aside = analyses->SetAside("Sales");
    ASSERT_TRUE(analyses->RemoveAnalysis("Sales"));
    analyses->CreateAnalysis("Sales");
    WriteOutput("Sales_", 2)->CommitDataset("Result");
    std::filesystem::rename(aside, aside.substr(0, aside.rfind('.')) + ".2147483647");  // no such process
    analyses.reset();  // the killed run lets go of the name
    analyses = std::make_unique<DataManager>(std::vector<DatasetPtr>{}, root);
    EXPECT_EQ(Rows("sales_result"), 5);
    EXPECT_EQ(leftovers(), "0");
    EXPECT_EQ(analyses->GetAnalysis("Sales")->Layers().size(), 1u);
}

// A re-run whose output goes to another table (its prefix changed): the
// table of the analysis that is kept stays, the other goes.
TEST_F(PostgisTest, AReplacementThatMovesItsTableLeavesOnlyTheKeptOne) {
    ScratchDir dir;
    DataManager analyses({}, dir / "analyses");
    AddAnalysis(analyses, "Sales", WriteOutput("Sales_", 3));
    for (bool keep : {false, true}) {
        std::string aside = analyses.SetAside("Sales");
        ReplaceSales(analyses, WriteOutput("Moved_", 4));
        EXPECT_EQ(Tables().rfind("moved_result,sales_result,sales_result_old_", 0), 0u) << Tables();  // and the copy
        analyses.EndReplacement(aside, keep);
        EXPECT_EQ(Tables(), keep ? "moved_result" : "sales_result");
        EXPECT_EQ(Rows(keep ? "moved_result" : "sales_result"), keep ? 4 : 3);
    }
    // While the database is away nothing is kept aside, and nothing changes.
    analyses.CreateAnalysis("Away")->AddLayer("PG:dbname=plexa host=/nonexistent-folder|away_result");
    std::string error = ErrorOf([&] { analyses.SetAside("Away"); });
    EXPECT_NE(error.find("The analysis Away could not be kept aside while it is replaced: Cannot connect"), std::string::npos)
        << error;
    EXPECT_TRUE(analyses.AnalysisExists("Away"));
    EXPECT_FALSE(std::filesystem::exists(dir / "analyses/.replaced/Away." + std::to_string(getpid())));
}

TEST_F(PostgisTest, ANewAnalysisStoppedAfterItsTableWasWrittenLeavesNoTable) {
    ScratchDir dir;
    auto root = dir / "analyses";
    auto a = DataManager({}, root).CreateAnalysis("Fresh");
    auto output = WriteOutput("Fresh_", 2);
    output->CommitDataset("Result");
    a->ExpectLayer(output->OpenFeatureClass("Result")->DataPath());
    EXPECT_EQ(Tables(), "fresh_result");
    // While its run goes on, the analysis is left alone.
    EXPECT_TRUE(DataManager({}, root).AnalysisExists("Fresh"));
    EXPECT_EQ(Tables(), "fresh_result");
    std::ofstream(a->Folder() + ".incomplete") << "2147483647\n";  // no such process
    EXPECT_FALSE(DataManager({}, root).AnalysisExists("Fresh"));
    EXPECT_EQ(Tables(), "");
    EXPECT_FALSE(std::filesystem::exists(a->Folder()));
}

TEST_F(PostgisTest, ALayerOfTheDatabaseIsExportedLikeAFile) {
    auto ws = WriteOutput("Export_", 3);
    ws->CommitDataset("Result");
    auto layer = std::make_shared<gis::FeatureLayer>();
    layer->featureClass = ws->OpenFeatureClass("Result");
    layer->name = "Result";
    ScratchDir dir;
    EXPECT_EQ(gis::ExportLayer(*layer, dir / "areas.gpkg", false), 3);
    auto back = gis::Workspace::OpenGeoPackage(dir / "areas.gpkg")->OpenFeatureClass("areas");
    EXPECT_EQ(back->RowCount(nullptr), 3);
}

}  // namespace
