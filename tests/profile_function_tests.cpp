// The average customer profile, step by step under the function runner.
#include <gtest/gtest.h>

#include <optional>

#include "CustomerProfile/PXCPProfileFunction.h"
#include "TestSupport.h"

using namespace host;
using namespace host::gis;

namespace {

struct ProfileTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        auto wgs = SpatialReference::FromEPSG(4326);
        auto ws = Workspace::OpenFolder(dir.Path().string());
        NewAreas("areas");
        // Two areas: counts 120 and 40; percentage counts 50 and 10 over bases 200 and 100.
        AddArea("West", 120, 50, 200);
        AddArea("East", 40, 10, 100);
        Fields pf;
        auto pshape = NewField("shape", kFieldGeometry);
        pshape->geometryDef.type = kGeomPoint;
        pshape->geometryDef.spatialReference = wgs;
        pf.AddField(pshape);
        pf.AddField(NewField("ZIP", kFieldString, "", 5));
        auto pts = ws->CreateFeatureClass("customers", pf, "shape");
        auto pi = pts->Insert(true);
        auto pb = pi->CreateBuffer();
        for (auto [x, y] : std::vector<std::pair<double, double>>{{0.2, 0.5}, {0.5, 0.5}, {0.7, 0.2}, {1.5, 0.5}, {5, 5}}) {
            pb->SetShape(*Geometry::FromWkt("POINT (" + std::to_string(x) + " " + std::to_string(y) + ")", wgs));
            pi->Insert(*pb);
        }
        pi->Flush();
        customers = std::make_shared<FeatureLayer>();
        customers->featureClass = ws->OpenFeatureClass("customers");
        customers->name = "Customers";

        task = std::make_shared<TaskEntry>();
        auto cat = std::make_shared<CategoryDef>();
        cat->id = "Cat";
        for (auto [name, canPercent, number, base] :
             std::vector<std::tuple<std::string, std::string, std::string, std::string>>{
                 {"Count", "False", "C", ""}, {"Share", "True", "P", "B"}, {"Broken", "False", "NOPE", ""}}) {
            auto t = std::make_shared<TargetDef>();
            t->name = name;
            t->properties["CanPercent"] = canPercent;
            t->numberFields["1"] = number;
            if (!base.empty()) t->percentFields["1"] = base;
            cat->targets.push_back(t);
        }
        task->categories.push_back(cat);
        query = std::make_shared<DataQuery>();
        query->featureClass = ws->OpenFeatureClass("areas");
        rows = std::make_shared<Collection>();
        AddRow("Count", 1, 1);
        AddRow("Share", 1, 1);
        AddRow("Broken", 0, 1);
    }
    // An empty area layer with a count C, a percentage count P over a base
    // B, and a name.
    void NewAreas(const std::string& name) {
        Fields af;
        auto shape = NewField("shape", kFieldGeometry);
        shape->geometryDef.type = kGeomPolygon;
        shape->geometryDef.spatialReference = SpatialReference::FromEPSG(4326);
        af.AddField(shape);
        for (const char* n : {"C", "P", "B"}) af.AddField(NewField(n, kFieldDouble));
        af.AddField(NewField("NAME", kFieldString, "", 10));
        areas = Workspace::OpenFolder(dir.Path().string())->CreateFeatureClass(name, af, "shape");
        areaCount = 0;
    }
    // The next area east of the others, one unit square; a missing value
    // is stored as none.
    void AddArea(const std::string& name, std::optional<double> c, double p, std::optional<double> b) {
        auto ins = areas->Insert(true);
        auto buf = ins->CreateBuffer();
        double x = static_cast<double>(areaCount++);
        buf->SetShape(*Geometry::MakeEnvelopePolygon({x, 0, x + 1, 1, false}, SpatialReference::FromEPSG(4326)));
        buf->SetValue(2, c ? Variant(*c) : Variant());
        buf->SetValue(3, p);
        buf->SetValue(4, b ? Variant(*b) : Variant());
        buf->SetValue(5, name);
        ins->Insert(*buf);
        ins->Flush();
    }
    void AddCustomer(double x, double y) {
        auto ins = customers->featureClass->Insert(true);
        auto buf = ins->CreateBuffer();
        buf->SetShape(*Geometry::FromWkt("POINT (" + std::to_string(x) + " " + std::to_string(y) + ")",
                                         SpatialReference::FromEPSG(4326)));
        ins->Insert(*buf);
        ins->Flush();
    }
    void AddRow(const std::string& target, int ticked, int available) {
        auto r = std::make_shared<Collection>();
        r->Add("Cat", "0");
        r->Add(target, "1");
        r->Add(ticked, "2");
        r->Add(available, "3");
        r->Add(-1.0, "Value");
        r->Add("old", "Chance");
        rows->Add(r, std::to_string(rows->Count()));
    }
    std::shared_ptr<pxcp::PXCPProfileFunction> Function(int16_t year = 1) {
        auto f = std::make_shared<pxcp::PXCPProfileFunction>();
        auto set = [&](const char* k, Variant v) { f->SetParam(k, v); };
        set("Application", std::make_shared<Application>());
        set("CustomerLayer", customers);
        set("SelectedOnly", false);
        set("CustomerProspectingTask", task);
        set("ParamsCollection", rows);
        set("YEARINDEX", year);
        set("DemogrLayerID", "areas");
        set("DataQueryObject", query);
        set("CharacteristicsGrid", std::make_shared<Collection>());
        set("DataManager", 5);  // not one of its keys: ignored
        return f;
    }
    Collection& Row(long k) { return *rows->Item(k).As<Collection>(); }
    long Run(IPXFunction& f) { return FunctionRunner().Run(f, "Clock AVI", "Analysis", "Profiling"); }

    pxtest::ScratchDir dir;
    int areaCount = 0;
    FeatureClassPtr areas;
    FeatureLayerPtr customers;
    TaskEntryPtr task;
    DataQueryPtr query;
    CollectionPtr rows;
};

TEST_F(ProfileTest, WorkedExampleWithHalfToEvenRounding) {
    auto f = Function();
    ASSERT_TRUE(f->Init());
    EXPECT_EQ(Run(*f), FunctionRunner::kCompleted);
    EXPECT_EQ(f->LastError(), 0);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), 100.0);
    EXPECT_EQ(Row(1).Item("Chance").ToString(), "");
    EXPECT_EQ(Row(2).Item("Value").ToDouble(), 21.2);  // 85 / 4 = 21.25
    EXPECT_EQ(Row(2).Item("Chance").ToString(), "% chance");
    EXPECT_EQ(Row(3).Item("Value").ToDouble(), -1.0);  // not ticked: untouched
    // The averages before rounding, for those who print more digits.
    EXPECT_EQ(f->ExactAverage(2), 21.25);
    EXPECT_EQ(f->ExactAverage(1), 100.0);
    EXPECT_FALSE(f->ExactAverage(3));
}

TEST_F(ProfileTest, SelectedCustomersOnly) {
    customers->selection = {0, 3};  // one in each area
    auto f = Function();
    Variant yes(true);
    f->SetParam("selectedonly", yes);
    ASSERT_TRUE(f->Init());
    Run(*f);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), 80.0);  // (120 + 40) / 2
}

TEST_F(ProfileTest, NoCustomersGiveZeroAndMissingFieldsGive47) {
    customers->selection.clear();
    auto f = Function();
    Variant yes(true);
    f->SetParam("SelectedOnly", yes);
    ASSERT_TRUE(f->Init());
    Run(*f);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), 0.0);
    EXPECT_EQ(Row(2).Item("Chance").ToString(), "% chance");

    Row(3).Replace("2", 1);
    Row(1).Replace("Value", -1.0);
    auto broken = Function();
    ASSERT_TRUE(broken->Init());
    Run(*broken);
    EXPECT_EQ(broken->LastError(), 47);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), -1.0);
}

TEST_F(ProfileTest, AnAreaThatCannotBeAveragedLeavesItsRowWithTheReason) {
    // North has no count; its share counts 5 over a base of 50.
    AddArea("North", std::nullopt, 5, 50);
    AddCustomer(2.5, 0.5);
    query->featureClass = areas;
    auto layer = std::make_shared<DatasetLayer>();
    layer->descField = "NAME";
    query->layer = layer;
    auto f = Function();
    ASSERT_TRUE(f->Init());
    EXPECT_EQ(Run(*f), FunctionRunner::kCompleted);
    EXPECT_EQ(f->LastError(), 0);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), -1.0);  // kept, not an average of the other areas
    EXPECT_EQ(Row(1).Item("Chance").ToString(), "old");
    EXPECT_EQ(Row(1).Item("Reason").ToString(), "not profiled: no value of C in North");
    EXPECT_FALSE(f->ExactAverage(1));
    EXPECT_EQ(f->ExactAverage(2), 19.0);
    // The share still has all three: (75 + 10 + 1 × 5 / 50 × 100) / 5 customers.
    EXPECT_EQ(Row(2).Item("Value").ToDouble(), 19.0);
    EXPECT_FALSE(Row(2).Contains("Reason"));

    // With a count there, and a share of 5 and 3 over bases of 0 in North
    // and South: the count is averaged again and loses its reason.
    NewAreas("areas2");
    query->featureClass = areas;
    AddArea("West", 120, 50, 200);
    AddArea("East", 40, 10, 100);
    AddArea("North", 10, 5, 0);
    AddArea("South", 20, 3, std::nullopt);
    AddCustomer(3.5, 0.5);
    auto g = Function();
    ASSERT_TRUE(g->Init());
    Run(*g);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), 71.7);  // (3 × 120 + 40 + 10 + 20) / 6
    EXPECT_FALSE(Row(1).Contains("Reason"));
    EXPECT_EQ(Row(2).Item("Value").ToDouble(), 19.0);
    EXPECT_EQ(Row(2).Item("Reason").ToString(), "not profiled: the base B is 0 where P is 5 in North and 1 other area");
}

TEST_F(ProfileTest, InitNeedsItsParameters) {
    EXPECT_FALSE(Function(0)->Init());
    pxcp::PXCPProfileFunction bare;
    EXPECT_FALSE(bare.Init());
    EXPECT_TRUE(bare.Start());
}

}  // namespace

namespace {

TEST_F(ProfileTest, BoundaryCustomersCountTwiceAndTheExtentOnlyPicksTheAreas) {
    auto ins = customers->featureClass->Insert(true);
    auto buf = ins->CreateBuffer();
    buf->SetShape(*Geometry::FromWkt("POINT (1 0.5)", SpatialReference::FromEPSG(4326)));  // on the shared edge
    ins->Insert(*buf);
    ins->Flush();
    auto f = Function();
    ASSERT_TRUE(f->Init());
    Run(*f);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), 93.3);  // (4 * 120 + 2 * 40) / 6

    // An extent around one customer of the first area: only that area is
    // visited, but with every customer in it.
    auto app = std::make_shared<Application>();
    auto ext = std::make_shared<Extension>(nullptr, HostConfiguration{});
    ext->SetBoundingGeometry(Geometry::MakeEnvelopePolygon({0.1, 0.4, 0.3, 0.6, false}, SpatialReference::FromEPSG(4326)));
    app->AddExtension("PXKernel.PXExtension", ext);
    auto g = Function();
    Variant a(app);
    g->SetParam("Application", a);
    ASSERT_TRUE(g->Init());
    Run(*g);
    EXPECT_EQ(Row(1).Item("Value").ToDouble(), 120.0);
}

}  // namespace
