// The average customer profile, step by step under the function runner.
#include <gtest/gtest.h>

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
        Fields af;
        auto shape = NewField("shape", kFieldGeometry);
        shape->geometryDef.type = kGeomPolygon;
        shape->geometryDef.spatialReference = wgs;
        af.AddField(shape);
        for (const char* n : {"C", "P", "B"}) af.AddField(NewField(n, kFieldDouble));
        areas = ws->CreateFeatureClass("areas", af, "shape");
        auto ins = areas->Insert(true);
        auto buf = ins->CreateBuffer();
        // Two areas: counts 120 and 40; percentage counts 50 and 10 over bases 200 and 100.
        double values[2][3] = {{120, 50, 200}, {40, 10, 100}};
        for (int i = 0; i < 2; ++i) {
            buf->SetShape(*Geometry::MakeEnvelopePolygon({double(i), 0, double(i) + 1, 1, false}, wgs));
            for (int k = 0; k < 3; ++k) buf->SetValue(2 + k, values[i][k]);
            ins->Insert(*buf);
        }
        ins->Flush();
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
