// The household worker against a real household-data service process and
// against linked tables: the join, the minimum, the pending output and the
// ways a run can fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "PXCP/PXCPHouseholdDataFunction.h"
#include "service/HouseholdDataClient.h"
#include "TestSupport.h"
#include "i18n/modi18N.h"

using namespace host;
using namespace host::gis;
namespace fs = std::filesystem;

namespace {


// A dBASE III table written byte by byte, so that a test can hold texts in
// number columns that no table writer would produce: GEOG C(12), TQ N(10),
// TOTAL N(10).
std::string RawDbf(const std::vector<std::tuple<std::string, std::string, std::string>>& rows) {
    struct Col {
        const char* name;
        char type;
        int width;
    };
    const Col cols[] = {{"GEOG", 'C', 12}, {"TQ", 'N', 10}, {"TOTAL", 'N', 10}};
    const int header = 32 + 32 * 3 + 1, record = 1 + 12 + 10 + 10;
    std::string b(32, '\0');
    b[0] = 0x03;
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<char>((rows.size() >> (8 * i)) & 0xff);
    b[8] = static_cast<char>(header & 0xff), b[9] = static_cast<char>(header >> 8);
    b[10] = static_cast<char>(record & 0xff), b[11] = static_cast<char>(record >> 8);
    for (const Col& c : cols) {
        std::string d(32, '\0');
        d.replace(0, strlen(c.name), c.name);
        d[11] = c.type;
        d[16] = static_cast<char>(c.width);
        b += d;
    }
    b += '\x0d';
    auto pad = [](std::string v, size_t w, bool right) {
        return right ? std::string(w - v.size(), ' ') + v : v + std::string(w - v.size(), ' ');
    };
    for (auto& [key, tq, total] : rows) b += " " + pad(key, 12, false) + pad(tq, 10, true) + pad(total, 10, true);
    return b + '\x1a';
}

struct HouseholdFunctionTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
        forms::MessageLog().clear();
        wgs = SpatialReference::FromEPSG(4326);
        data = Workspace::OpenFolder(dir / "");
        areas = MakeAreas("areas", "GEOID", {"A01", "A02", "A03", "A04", "A05", "A06"});
        fs::create_directories(dir / "analysis");
    }
    void TearDown() override { unsetenv("PLEXA_HOUSEHOLD_TIMEOUT_MS"); }

    FeatureClassPtr MakeAreas(const std::string& name, const std::string& keyField, const std::vector<std::string>& keys) {
        Fields f;
        auto shape = NewField("shape", kFieldGeometry);
        shape->geometryDef.type = kGeomPolygon;
        shape->geometryDef.spatialReference = wgs;
        f.AddField(shape);
        f.AddField(NewField(keyField, kFieldString, "", 12));
        auto fc = data->CreateFeatureClass(name, f, "shape");
        auto ins = fc->Insert(true);
        auto buf = ins->CreateBuffer();
        for (size_t i = 0; i < keys.size(); ++i) {
            buf->SetShape(*Geometry::MakeEnvelopePolygon({double(i), 0, double(i) + 1, 1, false}, wgs));
            buf->SetValue(2, keys[i]);
            ins->Insert(*buf);
        }
        ins->Flush();
        return data->OpenFeatureClass(name);
    }
    // A table as a person would link it: counts read in TOTAL, matches in TQ.
    std::string LinkedTable(const std::vector<std::tuple<std::string, long, long>>& rows, const std::string& name = "linked") {
        Fields f;
        f.AddField(NewField("GEOG", kFieldString, "", 12));
        f.AddField(NewField("TQ", kFieldInteger));
        f.AddField(NewField("TOTAL", kFieldInteger));
        auto t = data->CreateTable(name, f);
        auto ins = t->Insert(true);
        auto buf = ins->CreateBuffer();
        for (auto& [key, match, read] : rows) {
            buf->SetValue(1, key);
            buf->SetValue(2, match);
            buf->SetValue(3, read);
            ins->Insert(*buf);
        }
        ins->Flush();
        return dir / (name + ".dbf");
    }
    std::shared_ptr<pxcp::PXCPHouseholdDataFunction> Function(bool wait, bool number, double minimum,
                                                              FeatureClassPtr main = nullptr) {
        auto f = std::make_shared<pxcp::PXCPHouseholdDataFunction>();
        f->Init();
        auto set = [&](const char* k, Variant v) { f->SetParam(k, v); };
        set("DatasetName", "Test");
        set("AnalysisFeatureclassName", "Result");
        set("AnalysisWorkspace", Workspace::OpenFolder(dir / "analysis"));
        set("AnalysisDir", dir / "analysis/");
        set("GeogField", "COUNTY");
        set("DatasetID", "Test");
        set("KeyField", "GEOID");
        set("QFields", "A,B");
        set("QList", "\"x\";\"z\"");
        set("UserName", "demo");
        set("Password", "demo");
        set("IsNumberTarget", number);
        set("MinimumTarget", minimum);
        set("Wait", wait);
        set("MainLayerName", "areas");
        set("MainFeatureClass", main ? main : areas);
        set("AnalysisName", "Test run");
        set("DefaultSR", wgs);
        return f;
    }
    long Run(IPXFunction& f) {
        FunctionRunner::SetSink(MakeSilentProgress());
        return FunctionRunner().Run(f, "Clock AVI", "Analysis", "Executing analysis...");
    }
    FeatureClassPtr Output() { return Workspace::OpenFolder(dir / "analysis")->OpenFeatureClass("Result"); }
    std::map<std::string, std::vector<double>> OutputRows() {
        std::map<std::string, std::vector<double>> m;
        auto out = Output();
        auto c = out->Search(nullptr, false);
        while (auto r = c->NextRow())
            m[r->Value(out->FindField("KEY")).ToString()] = {r->Value(out->FindField("TOTREAD")).ToDouble(),
                                                             r->Value(out->FindField("TOTAL")).ToDouble(),
                                                             r->Value(out->FindField("PERCENT")).ToDouble()};
        return m;
    }

    // Runs a waiting analysis over the linked table at path.
    std::shared_ptr<pxcp::PXCPHouseholdDataFunction> RunLinked(const std::string& path, FeatureClassPtr main = nullptr) {
        auto ws = Workspace::OpenFolder(dir / "analysis");
        if (ws->DatasetExists("Result")) ws->DeleteDataset("Result");
        auto f = Function(true, true, 0, main);
        Variant yes(true), file(path);
        f->SetParam("LinkDBF", yes);
        f->SetParam("DBFFilePath", file);
        Run(*f);
        return f;
    }
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        std::string path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    pxtest::ScratchDir dir;
    SpatialReferencePtr wgs;
    WorkspacePtr data;
    FeatureClassPtr areas;
};

TEST_F(HouseholdFunctionTest, WaitingRunJoinsTheServiceCountsAboveTheMinimum) {
    pxtest::ServiceProcess service({"--job-polls", "3"});
    auto f = Function(true, true, 0);
    EXPECT_EQ(Run(*f), FunctionRunner::kCompleted);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    // The service's table is kept in the analysis folder; every area with a
    // match is in the output, with its counts and share.
    auto table = Workspace::OpenFolder(dir / "analysis")->OpenTable("tmp");
    ASSERT_TRUE(table);
    auto rows = OutputRows();
    long expected = 0, tableRows = 0;
    auto c = table->Search(nullptr, false);
    while (auto r = c->NextRow()) {
        ++tableRows;
        std::string key = r->Value(table->FindField("GEOG")).ToString();
        double read = r->Value(table->FindField("TQ")).ToDouble(), total = r->Value(table->FindField("TOTAL")).ToDouble();
        if (total <= 0) {
            EXPECT_FALSE(rows.count(key)) << key;
            continue;
        }
        ++expected;
        ASSERT_TRUE(rows.count(key)) << key;
        EXPECT_EQ(rows[key][0], read);
        EXPECT_EQ(rows[key][1], total);
        EXPECT_NEAR(rows[key][2], total * 100 / read, 0.005);
    }
    EXPECT_EQ(tableRows, 6);  // one row per area asked for
    EXPECT_EQ(static_cast<long>(rows.size()), expected);
    EXPECT_TRUE(Output()->HasSpatialIndex());
    // The output's fields as dBASE stores them.
    std::string dbf = dir / "analysis/Result.dbf";
    EXPECT_EQ(pxtest::DbfField(dbf, "KEY"), std::make_tuple('C', 12, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "TOTREAD"), std::make_tuple('N', 11, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "TOTAL"), std::make_tuple('N', 11, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "PERCENT"), std::make_tuple('N', 20, 2));
}

TEST_F(HouseholdFunctionTest, LinkedTableSwapsTheColumnsAndTheMinimumIsStrict) {
    // (key, TQ, TOTAL): a linked table reads households in TOTAL.
    std::string dbf = LinkedTable(
        {{"A01", 5, 0}, {"A02", 100, 1000}, {"A03", 1001, 10000}, {"A04", 7, 70}, {"A05", 1, 3}, {"ZZZ", 9, 9}});
    auto percent = Function(true, false, 10);
    Variant yes(true), path(dbf);
    percent->SetParam("LinkDBF", yes);
    percent->SetParam("DBFFilePath", path);
    Run(*percent);
    ASSERT_EQ(percent->LastError(), 0) << percent->ErrorText();
    auto rows = OutputRows();
    EXPECT_EQ(rows.size(), 2u);  // exactly 10 % stays out, 10.01 % is in
    ASSERT_TRUE(rows.count("A03"));
    EXPECT_EQ(rows["A03"][0], 10000);
    EXPECT_NEAR(rows["A03"][2], 10.01, 1e-9);
    ASSERT_TRUE(rows.count("A05"));
    EXPECT_EQ(rows["A05"][2], 33.33);  // stored with two decimals
    EXPECT_FALSE(fs::exists(dir / "analysis/tmp.dbf"));  // nothing was asked of the service

    Workspace::OpenFolder(dir / "analysis")->DeleteDataset("Result");
    auto number = Function(true, true, 4);
    number->SetParam("LinkDBF", yes);
    number->SetParam("DBFFilePath", path);
    Run(*number);
    rows = OutputRows();
    ASSERT_TRUE(rows.count("A01"));  // nothing read: share 0, but 5 matches
    EXPECT_EQ(rows["A01"][2], 0);
    EXPECT_EQ(rows.size(), 4u);
}

TEST_F(HouseholdFunctionTest, NotWaitingWritesTheRequestedAreasAndTheJobId) {
    pxtest::ServiceProcess service;
    auto f = Function(false, true, 0);
    f->SetParam("BoundingGeometry", *std::make_unique<Variant>(Geometry::MakeEnvelopePolygon({0.5, 0.2, 2.5, 0.8, false}, wgs)));
    Run(*f);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    Variant job;
    f->SetResultParam("JobID", job);
    EXPECT_EQ(job.ToString().substr(0, 2), "HH");
    auto out = Output();
    EXPECT_EQ(out->FindField("TOTAL"), -1);
    EXPECT_EQ(out->RowCount(nullptr), 3);  // the areas the study area touches
}

TEST_F(HouseholdFunctionTest, StatesAreJoinedThroughTheirCodes) {
    auto states = MakeAreas("states", "STATE", {"37", "45", "51"});
    std::string dbf = LinkedTable({{"NC", 10, 100}, {"SC", 50, 100}, {"VA", 1, 100}}, "states_result");
    auto f = Function(true, true, 5, states);
    Variant yes(true), path(dbf), layer("US.Demography.States"), ags("USA_AGS"), state("STATE");
    f->SetParam("LinkDBF", yes);
    f->SetParam("DBFFilePath", path);
    f->SetParam("MainLayerName", layer);
    f->SetParam("DatasetID", ags);
    f->SetParam("GeogField", state);
    Run(*f);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    auto rows = OutputRows();
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows.count("37") && rows.count("45"));
}

TEST_F(HouseholdFunctionTest, ServiceFaultsEndWithTheirCodes) {
    struct Case {
        std::vector<std::string> args;
        std::string user;
        long code;
        std::string words;
    };
    setenv("PLEXA_HOUSEHOLD_TIMEOUT_MS", "400", 1);
    for (const Case& c : {Case{{}, "intruder", 34, "not valid"}, Case{{"--fault", "malformed"}, "demo", 34, "could not be read"},
                          Case{{"--delay-ms", "1500"}, "demo", 34, "did not answer in time"},
                          Case{{"--fault", "baddbf"}, "demo", 44, "not a readable dBASE table"}}) {
        pxtest::ServiceProcess service(c.args);
        auto ws = Workspace::OpenFolder(dir / "analysis");
        if (ws->DatasetExists("Result")) ws->DeleteDataset("Result");
        auto f = Function(true, true, 0);
        Variant user(c.user);
        f->SetParam("UserName", user);
        Run(*f);
        EXPECT_EQ(f->LastError(), c.code) << c.user << " " << (c.args.empty() ? "" : c.args[0]);
        EXPECT_NE(f->ErrorText().find(c.words), std::string::npos) << f->ErrorText();
    }
    setenv("PLEXA_HOUSEHOLD_SERVICE", ("127.0.0.1:" + std::to_string(pxtest::UnusedPort())).c_str(), 1);
    auto down = Function(true, true, 0);
    Run(*down);
    EXPECT_EQ(down->LastError(), 34);
    EXPECT_NE(down->ErrorText().find("could not be reached"), std::string::npos) << down->ErrorText();
    unsetenv("PLEXA_HOUSEHOLD_SERVICE");
}

// The analyst cancels while the submission or a status reply is still on
// its way: the run ends as cancelled, not as a failure of the service.
TEST_F(HouseholdFunctionTest, CancellingDuringARequestEndsTheRunAsCancelled) {
    struct FlagSink : ProgressSink {
        std::atomic<bool>* flag;
        explicit FlagSink(std::atomic<bool>* f) : flag(f) {}
        void Begin(const std::string&, const std::string&, const std::string&) override {}
        void Step(double, const std::string&) override {}
        void End(long) override {}
        bool CancelRequested() override { return flag->load(); }
    };
    for (const char* fault : {"--delay-ms", "--fault"}) {
        bool slowSubmit = std::string(fault) == "--delay-ms";
        pxtest::ServiceProcess service({"--job-seconds", "0", fault, slowSubmit ? "20000" : "drip"});
        std::atomic<bool> cancelled{false};
        pxcp::HouseholdDataClient::SetCancelCheck([&] { return cancelled.load(); });
        FunctionRunner::SetSink(std::make_shared<FlagSink>(&cancelled));
        std::thread press([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            cancelled = true;
        });
        auto f = Function(true, true, 0);
        long code = FunctionRunner().Run(*f, "Clock AVI", "Analysis", "Executing analysis...");
        press.join();
        pxcp::HouseholdDataClient::SetCancelCheck(nullptr);
        EXPECT_EQ(code, FunctionRunner::kCancelled) << fault;
        EXPECT_EQ(f->LastError(), 0) << f->ErrorText();
    }
}

TEST_F(HouseholdFunctionTest, NothingAboveTheMinimumAndEmptyStudyAreas) {
    std::string dbf = LinkedTable({{"A01", 5, 100}});
    auto f = Function(true, true, 5);
    Variant yes(true), path(dbf);
    f->SetParam("LinkDBF", yes);
    f->SetParam("DBFFilePath", path);
    Run(*f);
    EXPECT_EQ(f->LastError(), 35);

    auto nowhere = Function(true, true, 0);
    nowhere->SetParam("BoundingGeometry", *std::make_unique<Variant>(Geometry::MakeEnvelopePolygon({50, 50, 51, 51, false}, wgs)));
    Run(*nowhere);
    EXPECT_EQ(nowhere->LastError(), 35);
    ASSERT_FALSE(forms::MessageLog().empty());
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(240));  // no request was sent: no service runs

    Variant missing(dir / "nope.dbf");
    auto gone = Function(true, true, 0);
    gone->SetParam("LinkDBF", yes);
    gone->SetParam("DBFFilePath", missing);
    Run(*gone);
    EXPECT_EQ(gone->LastError(), 8);
}

TEST_F(HouseholdFunctionTest, KeysWithQuotesJoinOnlyTheirOwnArea) {
    auto irish = MakeAreas("irish", "GEOID", {"O'Brien", "Kerry", "A01"});
    // A key that would widen an unquoted clause to every area, and a county
    // whose name holds a quote.
    std::string dbf = LinkedTable({{"' OR ''='", 50, 100}, {"O'Brien", 7, 70}, {"Kerry'", 9, 90}}, "quoted");
    auto f = RunLinked(dbf, irish);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    auto rows = OutputRows();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(rows.count("O'Brien"));
    EXPECT_EQ(rows["O'Brien"][0], 70);
    EXPECT_EQ(rows["O'Brien"][1], 7);

    // Only the injected key: it names no area, so nothing is written.
    auto alone = RunLinked(LinkedTable({{"' OR ''='", 50, 100}}, "injected"), irish);
    EXPECT_EQ(alone->LastError(), 35);
}

// Keys match as the where-clause on the key would: a text key whatever its
// case, a number by its value; of two areas with one key the first is
// taken, and a key without an area is passed over.
TEST_F(HouseholdFunctionTest, KeysMatchAsTheWhereClauseWould) {
    auto twice = MakeAreas("twice", "GEOID", {"A01", "B02", "A01"});
    auto f = RunLinked(LinkedTable({{"a01", 5, 50}, {"b02", 4, 40}, {"Z99", 3, 30}}, "cased"), twice);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    auto rows = OutputRows();
    EXPECT_EQ(rows.size(), 2u);
    auto out = Output();
    auto c = out->Search(nullptr, false);
    while (auto r = c->NextRow()) {
        if (r->Value(out->FindField("KEY")).ToString() == "a01") {
            EXPECT_LT(r->Shape()->GetEnvelope().xmin, 0.5);
        }
    }

    Fields fields;
    auto shape = NewField("shape", kFieldGeometry);
    shape->geometryDef.type = kGeomPolygon;
    shape->geometryDef.spatialReference = wgs;
    fields.AddField(shape);
    fields.AddField(NewField("CODE", kFieldDouble, "", 10, 10, 0));
    auto numbered = data->CreateFeatureClass("numbered", fields, "shape");
    auto ins = numbered->Insert(true);
    auto buf = ins->CreateBuffer();
    buf->SetShape(*Geometry::MakeEnvelopePolygon({0, 0, 1, 1, false}, wgs));
    buf->SetValue(2, 37009.0);
    ins->Insert(*buf);
    ins->Flush();
    auto g = Function(true, true, 0, data->OpenFeatureClass("numbered"));
    Variant code("CODE"), yes(true), file(LinkedTable({{"037009", 2, 20}, {"37009.0", 3, 30}}, "numbers"));
    g->SetParam("KeyField", code);
    g->SetParam("LinkDBF", yes);
    g->SetParam("DBFFilePath", file);
    auto ws = Workspace::OpenFolder(dir / "analysis");
    if (ws->DatasetExists("Result")) ws->DeleteDataset("Result");
    Run(*g);
    ASSERT_EQ(g->LastError(), 0) << g->ErrorText();
    EXPECT_EQ(OutputRows().size(), 2u);
}

TEST_F(HouseholdFunctionTest, BrokenTablesAreRefusedBeforeAnyAreaIsWritten) {
    std::vector<std::tuple<std::string, std::string, std::string>> rows;
    for (int i = 1; i <= 70; ++i) rows.push_back({"A" + std::string(i < 10 ? "0" : "") + std::to_string(i), "5", "100"});
    std::string whole = RawDbf(rows);
    // The whole table is read: the six areas of the layer that it names.
    auto good = RunLinked(WriteFile("whole.dbf", whole));
    ASSERT_EQ(good->LastError(), 0) << good->ErrorText();
    EXPECT_EQ(OutputRows().size(), 6u);

    // Cut short, as by an interrupted copy: half the rows remain.
    auto cut = RunLinked(WriteFile("cut.dbf", whole.substr(0, 129 + 35 * 33)));
    EXPECT_EQ(cut->LastError(), 8);
    EXPECT_NE(cut->ErrorText().find("cut short"), std::string::npos) << cut->ErrorText();
    EXPECT_FALSE(Workspace::OpenFolder(dir / "analysis")->DatasetExists("Result"));

    // Counts that are not numbers name the row and the column.
    for (auto [tq, total, column] : {std::tuple{"8r7", "100", "TQ"}, std::tuple{"5", "1 0", "TOTAL"}, std::tuple{"5", "-", "TOTAL"}}) {
        auto bad = RunLinked(WriteFile("bad.dbf", RawDbf({{"A01", "5", "100"}, {"A02", tq, total}})));
        EXPECT_EQ(bad->LastError(), 8) << tq << " " << total;
        EXPECT_NE(bad->ErrorText().find(std::string("row 2 (GEOG A02)")), std::string::npos) << bad->ErrorText();
        EXPECT_NE(bad->ErrorText().find(std::string("in ") + column), std::string::npos) << bad->ErrorText();
    }
    // Blank counts are no counts; decimals and signs are numbers.
    auto blank = RunLinked(WriteFile("blank.dbf", RawDbf({{"A01", "", "100"}, {"A02", "2.0", "-1"}, {"A03", "3", "30"}})));
    ASSERT_EQ(blank->LastError(), 0) << blank->ErrorText();
    EXPECT_EQ(OutputRows().size(), 2u);

    // The columns the join needs are checked before any row is read.
    std::string noCount = whole;
    noCount.replace(32 + 64, 5, "TOTAX");
    auto missing = RunLinked(WriteFile("nocount.dbf", noCount));
    EXPECT_EQ(missing->LastError(), 8);
    EXPECT_NE(missing->ErrorText().find("TOTAL"), std::string::npos) << missing->ErrorText();
    // A header that promises longer records than its columns hold.
    std::string wide = RawDbf({{"A01", "5", "100"}});
    wide[10] = 20;
    auto damaged = RunLinked(WriteFile("wide.dbf", wide));
    EXPECT_EQ(damaged->LastError(), 8) << damaged->ErrorText();
}

}  // namespace

namespace {

// Every output row by KEY with its counts and the lower left corner of its shape.
std::multimap<std::string, std::vector<double>> RowsWithCorners(const FeatureClassPtr& out) {
    std::multimap<std::string, std::vector<double>> m;
    auto c = out->Search(nullptr, false);
    while (auto r = c->NextRow()) {
        auto e = r->Shape()->GetEnvelope();
        m.emplace(r->Value(out->FindField("KEY")).ToString(),
                  std::vector<double>{r->Value(out->FindField("TOTREAD")).ToDouble(),
                                      r->Value(out->FindField("TOTAL")).ToDouble(), e.xmin, e.ymin});
    }
    return m;
}

TEST_F(HouseholdFunctionTest, PlainTablesJoinAsTheLayerReadsThem) {
    // Padded keys, a blank count, a deleted row, and a key named twice:
    // both of its rows get the area's shape.
    std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {" A02", "3", "30"}, {"A03", "", "40"}, {"A04", "9", "90"}, {"a05", "4", "40"}, {"A02", "6", "60"}};
    std::string plain = RawDbf(rows);
    plain[129 + 2 * 33] = '*';  // A04 deleted
    auto first = RunLinked(WriteFile("plain.dbf", plain));
    ASSERT_EQ(first->LastError(), 0) << first->ErrorText();
    auto direct = RowsWithCorners(Output());
    // A key outside plain ASCII makes the join read the table through the layer.
    rows.push_back({"\xe9t\xe9", "1", "10"});
    std::string recoded = RawDbf(rows);
    recoded[129 + 2 * 33] = '*';
    auto second = RunLinked(WriteFile("recoded.dbf", recoded));
    ASSERT_EQ(second->LastError(), 0) << second->ErrorText();
    auto layered = RowsWithCorners(Output());
    EXPECT_EQ(direct, layered);
    ASSERT_EQ(direct.count("A02"), 2u);
    EXPECT_EQ(direct.count("A04"), 0u);
    auto [a, b] = direct.equal_range("A02");
    EXPECT_EQ(a->second[2], 1);
    EXPECT_EQ(std::next(a)->second[2], 1);
    EXPECT_EQ(direct.size(), 3u);  // A03 has no count of matches: 0 is not above the minimum
}

// With few rows to write among many areas, each area is read by its id
// rather than in a pass over all of them; the result is the same.
TEST_F(HouseholdFunctionTest, FewRowsAmongManyAreasFindTheirOwnShapes) {
    std::vector<std::string> keys;
    for (int i = 0; i < 120; ++i) keys.push_back("K" + std::to_string(i));
    auto many = MakeAreas("many", "GEOID", keys);
    auto f = RunLinked(LinkedTable({{"K117", 5, 50}, {"K3", 4, 40}, {"K9", 0, 40}}, "few"), many);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    auto rows = RowsWithCorners(Output());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows.find("K117")->second[2], 117);
    EXPECT_EQ(rows.find("K3")->second[2], 3);
}

}  // namespace

namespace {

std::string FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct StraightOutputTest : HouseholdFunctionTest {
    // The join over the areas with the linked table, keyed on keyField;
    // the output's .shp, .shx and .dbf (its date left out), or the error.
    std::vector<std::string> Join(const FeatureClassPtr& main, const std::string& keyField, const std::string& table) {
        auto ws = Workspace::OpenFolder(dir / "analysis");
        if (ws->DatasetExists("Result")) ws->DeleteDataset("Result");
        auto f = Function(true, true, 0, main);
        Variant yes(true), file(table), key(keyField);
        f->SetParam("LinkDBF", yes);
        f->SetParam("DBFFilePath", file);
        f->SetParam("KeyField", key);
        Run(*f);
        if (f->LastError() != 0) return {f->ErrorText()};
        std::vector<std::string> files;
        for (const char* ext : {".shp", ".shx", ".dbf"}) files.push_back(FileBytes(dir.Path() / "analysis" / (std::string("Result") + ext)));
        if (files[2].size() > 4) files[2].replace(1, 3, "ymd");
        return files;
    }
    // The same areas in a GeoPackage: joined through the layer, not straight.
    FeatureClassPtr InGeoPackage(const FeatureClassPtr& areas, const std::string& keyField) {
        auto gpkg = Workspace::CreateGeoPackage(dir.Path().string(), "copy.gpkg");
        Fields f;
        auto shape = NewField("shape", kFieldGeometry);
        shape->geometryDef.type = kGeomPolygon;
        shape->geometryDef.spatialReference = areas->GetSpatialReference();
        f.AddField(shape);
        auto key = areas->GetFields()->GetField(areas->FindField(keyField));
        f.AddField(NewField(keyField, key->type, "", key->type == kFieldString ? 12 : 0));
        std::string name = "copy" + std::to_string(++copies);
        auto fc = gpkg->CreateFeatureClass(name, f, "shape");
        auto ins = fc->Insert(true);
        auto buf = ins->CreateBuffer();
        auto c = areas->Search(nullptr, false);
        while (auto row = c->NextRow()) {
            buf->SetShapeCopyFrom(*row);
            buf->SetValue(fc->FindField(keyField), row->Value(areas->FindField(keyField)));
            ins->Insert(*buf);
        }
        ins->Flush();
        return gpkg->OpenFeatureClass(name);
    }
    FeatureClassPtr SampleCounties(const std::string& name) {
        for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
            fs::copy_file(fs::path(pxtest::SampleDir()) / (std::string("nc") + ext), dir / (name + ext));
        return data->OpenFeatureClass(name);
    }
    int copies = 0;
};

// The sample's counties (some of several parts) joined straight from the
// shapefile and through a GeoPackage copy of it: the same output, byte for
// byte, with the rows in the order of the table.
TEST_F(StraightOutputTest, StraightAndLayeredJoinsWriteTheSameLayer) {
    auto counties = SampleCounties("counties");
    std::vector<std::tuple<std::string, long, long>> rows;
    auto c = counties->Search(nullptr, false);
    long i = 0;
    while (auto row = c->NextRow()) {
        std::string fips = row->Value(counties->FindField("FIPS")).ToString();
        rows.insert(i % 2 ? rows.end() : rows.begin(), {fips, i % 3, 10 + i});  // a third at 0: not kept
        ++i;
    }
    rows.insert(rows.begin() + 7, {"99999", 5, 10});                  // no such area
    rows.push_back({std::get<0>(rows[20]), 4, 1000});  // a key named twice
    std::string table = LinkedTable(rows, "countycounts");
    auto straight = Join(counties, "FIPS", table);
    auto layered = Join(InGeoPackage(counties, "FIPS"), "FIPS", table);
    ASSERT_EQ(straight.size(), 3u) << straight[0];
    ASSERT_EQ(layered.size(), 3u) << layered[0];
    for (size_t k = 0; k < 3; ++k) EXPECT_TRUE(straight[k] == layered[k]) << "file " << k << " differs";
    EXPECT_EQ(Output()->RowCount(nullptr), 67);

    // Keys outside plain ASCII, padded and in another case, are found as the layer finds them.
    auto accented = MakeAreas("accented", "GEOID", {"Évry", "A02", "  Sète", "a04"});
    std::string other = LinkedTable({{"Évry", 5, 10}, {"A04", 2, 9}, {"Sète", 3, 7}, {"A02", 0, 4}}, "accentcounts");
    auto straightKeys = Join(accented, "GEOID", other);
    auto layeredKeys = Join(InGeoPackage(accented, "GEOID"), "GEOID", other);
    ASSERT_EQ(straightKeys.size(), 3u) << straightKeys[0];
    EXPECT_EQ(straightKeys, layeredKeys);
    EXPECT_EQ(Output()->RowCount(nullptr), 3);

    // A whole-number key, named by the table with leading zeros and signs.
    std::vector<std::tuple<std::string, long, long>> numbered;
    c = counties->Search(nullptr, false);
    while (auto row = c->NextRow()) {
        long id = row->Value(counties->FindField("CRESS_ID")).ToLong();
        numbered.push_back({id % 4 == 0 ? "00" + std::to_string(id) : id % 4 == 1 ? "+" + std::to_string(id) : std::to_string(id), 5, 10 + id % 7});
    }
    std::string byNumber = LinkedTable(numbered, "numbercounts");
    auto straightNumbers = Join(counties, "CRESS_ID", byNumber);
    auto layeredNumbers = Join(InGeoPackage(counties, "CRESS_ID"), "CRESS_ID", byNumber);
    ASSERT_EQ(straightNumbers.size(), 3u) << straightNumbers[0];
    EXPECT_EQ(straightNumbers, layeredNumbers);
    EXPECT_EQ(Output()->RowCount(nullptr), 100);
}

// The extent of an output, read through its own coordinate system, is that
// of the sample's counties (NAD 27 degrees): within a few hundred metres,
// which the change of datum may move them by.
void ExpectWhereTheCountiesAre(const FeatureClassPtr& out, const std::string& what) {
    ASSERT_TRUE(out) << what;
    auto sr = out->GetSpatialReference();
    ASSERT_TRUE(sr && sr->IsGeographic()) << what;
    auto counties = Workspace::OpenFolder(pxtest::SampleDir())->OpenFeatureClass("nc");
    Envelope want = counties->Extent(), got = out->Extent();
    EXPECT_NEAR(got.xmin, want.xmin, 0.01) << what;
    EXPECT_NEAR(got.ymin, want.ymin, 0.01) << what;
    EXPECT_NEAR(got.xmax, want.xmax, 0.01) << what;
    EXPECT_NEAR(got.ymax, want.ymax, 0.01) << what;
}

// Counties in metres (North Carolina State Plane) come out in degrees of
// the system it is based on, whichever way the output is written: straight
// to a shapefile, through the layer, into a GeoPackage, and without
// waiting for the counts.
TEST_F(StraightOutputTest, ProjectedAreasComeOutWhereTheyLieOnEveryWritePath) {
    if (!pxtest::HaveSample()) GTEST_SKIP() << "sample data not fetched";
    pxtest::Translate(pxtest::SampleDir() + "/nc.shp", dir / "stateplane.shp", {"-t_srs", "EPSG:32119"});
    auto counties = data->OpenFeatureClass("stateplane");
    ASSERT_TRUE(counties->GetSpatialReference()->IsProjected());
    std::vector<std::tuple<std::string, long, long>> rows;
    auto c = counties->Search(nullptr, false);
    while (auto row = c->NextRow()) rows.push_back({row->Value(counties->FindField("FIPS")).ToString(), 5, 10});
    std::string table = LinkedTable(rows, "planecounts");

    auto straight = Join(counties, "FIPS", table);
    ASSERT_EQ(straight.size(), 3u) << straight[0];
    ExpectWhereTheCountiesAre(Output(), "straight");
    EXPECT_EQ(Output()->GetSpatialReference()->EpsgCode(), 4269);  // NAD 83, under State Plane NAD 83
    auto layered = Join(InGeoPackage(counties, "FIPS"), "FIPS", table);
    ASSERT_EQ(layered.size(), 3u) << layered[0];
    for (size_t k = 0; k < 3; ++k) EXPECT_TRUE(straight[k] == layered[k]) << "file " << k << " differs";

    auto gpkg = Workspace::CreateGeoPackage(dir / "analysis", "Result");
    auto f = Function(true, true, 0, counties);
    Variant ws(gpkg), yes(true), file(table), key("FIPS");
    f->SetParam("AnalysisWorkspace", ws);
    f->SetParam("KeyField", key);
    f->SetParam("LinkDBF", yes);
    f->SetParam("DBFFilePath", file);
    Run(*f);
    ASSERT_EQ(f->LastError(), 0) << f->ErrorText();
    ExpectWhereTheCountiesAre(gpkg->OpenFeatureClass("Result"), "GeoPackage");

    pxtest::ServiceProcess service;
    Workspace::OpenFolder(dir / "analysis")->DeleteDataset("Result");
    auto pending = Function(false, true, 0, counties);
    pending->SetParam("KeyField", key);
    Run(*pending);
    ASSERT_EQ(pending->LastError(), 0) << pending->ErrorText();
    EXPECT_EQ(Output()->RowCount(nullptr), 100);
    ExpectWhereTheCountiesAre(Output(), "pending");
}

TEST_F(StraightOutputTest, ADamagedAreaShapefileFailsWithoutOutput) {
    auto counties = SampleCounties("cut");
    std::vector<std::tuple<std::string, long, long>> rows;
    auto c = counties->Search(nullptr, false);
    while (auto row = c->NextRow()) rows.push_back({row->Value(counties->FindField("FIPS")).ToString(), 5, 10});
    std::string table = LinkedTable(rows, "cutcounts");
    fs::resize_file(dir / "cut.shp", fs::file_size(dir / "cut.shp") - 1000);
    auto result = Join(data->OpenFeatureClass("cut"), "FIPS", table);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_NE(result[0].find("cut.shp is damaged at record"), std::string::npos) << result[0];
    EXPECT_FALSE(Workspace::OpenFolder(dir / "analysis")->DatasetExists("Result"));
}

}  // namespace
