// Analysis and workspace utilities.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PXAnalysis/SysFolderProv.h"
#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/PXAnalysisUtils.h"
#include "TestSupport.h"
#include "host/framework/ErrorHandler.h"
#include "host/platform/Locale.h"
#include "host/platform/Platform.h"
#include "i18n/modi18N.h"

using namespace host;
using namespace pxcp;
namespace fs = std::filesystem;

// Numbers typed or saved under one locale and read under another: a text that
// cannot be a grouped number of the reader's locale is read with the other
// separator as the decimal point, and the caller learns so.
TEST(LocaleNumbers, TheOtherSeparatorIsADecimalPointWhereItCannotGroup) {
    struct Case {
        const char* text;
        std::optional<double> value;
        bool other;
    };
    auto check = [](const platform::UserLocale& locale, std::initializer_list<Case> cases) {
        auto saved = platform::CurrentLocale();
        platform::SetCurrentLocale(locale);
        for (const Case& c : cases) {
            bool other = !c.other;
            auto v = platform::ParseLocaleNumber(c.text, other);
            EXPECT_EQ(v, c.value) << c.text << " in " << locale.lcid;
            EXPECT_EQ(other, c.other) << c.text << " in " << locale.lcid;
            EXPECT_EQ(platform::ParseLocaleNumber(c.text), c.value) << c.text;
        }
        platform::SetCurrentLocale(saved);
    };
    check({1031, ',', '.'}, {{"0.3", 0.3, true},
                             {" 12.5 ", 12.5, true},
                             {".5", 0.5, true},
                             {"-0.25", -0.25, true},
                             {"12,5", 12.5, false},
                             {"1.234", 1234, false},
                             {"1.234,5", 1234.5, false},
                             {"1.234.567", 1234567, false},
                             {"1.234.5", std::nullopt, false},
                             {"1.2,5", 12.5, false},
                             {"0.3x", std::nullopt, false}});
    check({1033, '.', ','}, {{"0,3", 0.3, true},
                             {"1,000", 1000, false},
                             {"1,000.5", 1000.5, false},
                             {"12.5", 12.5, false},
                             {"1,5e2", 150, true}});
    auto saved = platform::CurrentLocale();
    platform::SetCurrentLocale({1031, ',', '.'});
    std::string warning = platform::OtherSeparatorWarning("q.dmq", "0.3");
    platform::SetCurrentLocale(saved);
    EXPECT_NE(warning.find("q.dmq"), std::string::npos);
    EXPECT_NE(warning.find("\"0.3\" as 0,3"), std::string::npos) << warning;
}

TEST(StateCodes, ExactLookupsOnly) {
    EXPECT_EQ(GetStateAbbrByFip("37"), "NC");
    EXPECT_EQ(GetStateAbbrByFip("11"), "DC");
    EXPECT_EQ(GetStateAbbrByFip("72"), "");
    EXPECT_EQ(GetStateFipByAbbr("CA"), "06");
    EXPECT_EQ(GetStateFipByAbbr("ca"), "");
    EXPECT_EQ(GetStateFipByAbbr("PR"), "");
}

class UtilsTest : public ::testing::Test {
protected:
    void Open(const std::string& tasks) {
        h = std::make_unique<pxtest::Harness>(pxtest::WriteConfig(dir, tasks));
    }
    pxtest::ScratchDir dir;
    std::unique_ptr<pxtest::Harness> h;
};

TEST_F(UtilsTest, DefaultSpatialReferenceFollowsTheProjectionsEntry) {
    Open(pxtest::StandardTasks());
    EXPECT_EQ(GetDefaultSpatialReference(h->session.application)->EpsgCode(), 4269);
    h = nullptr;
    pxtest::ScratchDir d2;
    h = std::make_unique<pxtest::Harness>(pxtest::WriteConfig(d2, R"(<Task name="Projections">
        <Task name="Projection.ResultantDefault"><Param key="Type" value="Projected"/><Param key="ID" value="32119"/>
        <Param key="CentralMeridian" value="-80.5"/><Param key="StandardParallel2" value=""/></Task></Task>)"));
    auto sr = GetDefaultSpatialReference(h->session.application);
    EXPECT_TRUE(sr->IsProjected());
    EXPECT_DOUBLE_EQ(sr->ProjectionParameter("central_meridian"), -80.5);
    // An empty second parallel keeps the system's own.
    EXPECT_NEAR(sr->ProjectionParameter("standard_parallel_2"), 34.3333333, 1e-6);
    h = nullptr;
    pxtest::ScratchDir d3;
    h = std::make_unique<pxtest::Harness>(pxtest::WriteConfig(d3, R"(<Task name="Projections">
        <Task name="Projection.ResultantDefault"><Param key="Type" value="Geographic"/><Param key="ID" value="4267"/></Task></Task>)"));
    sr = GetDefaultSpatialReference(h->session.application);
    EXPECT_TRUE(sr->IsGeographic());
    EXPECT_EQ(sr->EpsgCode(), 4267);
}

TEST_F(UtilsTest, ExtensionLookupReportsInsteadOfRaising) {
    Open(pxtest::StandardTasks());
    EXPECT_EQ(GetPXExtension(h->session.application), h->session.extension);
    EXPECT_TRUE(ErrorHandler::Log().empty());
    ExtensionPtr none;
    EXPECT_NO_THROW(none = GetPXExtension(nullptr));
    EXPECT_EQ(none, nullptr);
    ASSERT_EQ(ErrorHandler::Log().size(), 1u);
    EXPECT_EQ(ErrorHandler::Log()[0].location, "GetPXExtension PXCP\\PXAnalysisUtils.bas");
    EXPECT_EQ(ErrorHandler::Log()[0].number, kErrObjectNotSet);
    // Its callers go on without an extension.
    EXPECT_EQ(GetCurrentDataset(nullptr), nullptr);
    EXPECT_FALSE(RemoveAnalysis("x", nullptr));
}

TEST_F(UtilsTest, OpenUrlRemovesItsTemporaryPage) {
    Open(pxtest::StandardTasks());
    setenv("XDG_CACHE_HOME", dir.Path().c_str(), 1);
    setenv("BROWSER", "true", 1);  // a browser that opens nothing
    OpenURL(0, "http://127.0.0.1:9/");
    unsetenv("BROWSER");
    unsetenv("XDG_CACHE_HOME");
    std::string cache = (dir.Path() / "plexa").string();
    ASSERT_TRUE(fs::is_directory(cache));
    EXPECT_FALSE(fs::exists(cache + "/temphtm.HTM"));
    // Without a browser the analyst is told; the page goes all the same.
    for (auto& m : forms::MessageLog()) EXPECT_EQ(m.title, FindString(250));
}

TEST_F(UtilsTest, CreateDbfAsksBeforeReplacingAndChecksTheFolder) {
    Open(pxtest::StandardTasks());
    gis::Fields f;
    f.AddField(gis::NewField("ID", gis::kFieldString, "", 10));
    EXPECT_EQ(CreateDBF(dir / "missing/profile", f), nullptr);
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_EQ(forms::MessageLog()[0].text, FindString(252) + "\r" + (dir / "missing/"));
    auto t = CreateDBF(dir / "profile", f);
    ASSERT_TRUE(t);
    t->Close();
    h->driver->Answer(forms::vbNo);
    EXPECT_EQ(CreateDBF(dir / "profile.dbf", f), nullptr);
    EXPECT_TRUE(fs::exists(dir / "profile.dbf"));
    h->driver->Answer(forms::vbYes);
    EXPECT_TRUE(CreateDBF(dir / "profile", f));
}

TEST_F(UtilsTest, LayerOrderingFindsPolygonsAndMovesThemDown) {
    if (!pxtest::HaveSample()) GTEST_SKIP();
    Open(pxtest::StandardTasks());
    auto app = h->session.application;
    auto map = app->FocusMap();
    auto polygons = h->session.extension->GetDataWorkspace()->OpenFeatureClass("nc");
    pxtest::ScratchDir pts;
    gis::Fields pf;
    auto shape = gis::NewField("shape", gis::kFieldGeometry);
    shape->geometryDef.type = gis::kGeomPoint;
    pf.AddField(shape);
    pf.AddField(gis::NewField("N", gis::kFieldString, "", 4));
    auto points = gis::Workspace::OpenFolder(pts.Path().string())->CreateFeatureClass("pts", pf, "shape");
    auto layer = [](gis::FeatureClassPtr fc, const std::string& name) {
        auto l = std::make_shared<gis::FeatureLayer>();
        l->featureClass = fc;
        l->name = name;
        return l;
    };
    EXPECT_EQ(FindFirstPolygonLayer(app), 0);  // empty map
    map->AddLayer(layer(points, "p1"));
    auto group = std::make_shared<gis::GroupLayer>();
    group->name = "Analysis";
    group->Add(layer(polygons, "a"));
    group->Add(layer(points, "b"));
    group->Add(layer(polygons, "c"));
    group->Add(layer(points, "d"));
    map->AddLayer(group);
    EXPECT_EQ(FindFirstPolygonLayer(app), 1);
    MovePolygonLayersDown(*group);
    std::vector<std::string> order;
    for (auto& l : group->layers) order.push_back(l->name);
    EXPECT_EQ(order, (std::vector<std::string>{"b", "d", "a", "c"}));
    // Groups are found at the top level only.
    auto outer = std::make_shared<gis::GroupLayer>();
    outer->name = "Outer";
    auto inner = std::make_shared<gis::GroupLayer>();
    inner->name = "Inner";
    outer->Add(inner);
    map->AddLayer(outer);
    EXPECT_TRUE(FindGroupLayer(*map, "Analysis"));
    EXPECT_FALSE(FindGroupLayer(*map, "Inner"));
    // Removing the layers of a dataset reaches into groups.
    gis::FeatureLayer probe;
    probe.featureClass = polygons;
    EXPECT_TRUE(RemoveDatasetLayers(probe, app));
    EXPECT_EQ(group->Count(), 2);
    gis::Map view;
    ZoomToDataset(view, polygons);
    EXPECT_NEAR(view.extent.Width(), polygons->Extent().Width() * 1.1, 1e-9);
    CreateSpatialIndex(points);
    EXPECT_TRUE(points->HasSpatialIndex());
}

TEST_F(UtilsTest, AnalysisWorkspaceFollowsTheDataFormat) {
    Open(pxtest::StandardTasks());
    auto info = std::make_shared<FileInfo>();
    info->SetPath(dir / "Result");
    EXPECT_EQ(OpenAnalysisWorkspace(info, h->session.application)->Kind(), gis::WorkspaceKind::Folder);
    h->session.extension->SetSetting("Data Format", "Personal Geodatabase");
    auto ws = OpenAnalysisWorkspace(info, h->session.application);
    EXPECT_EQ(ws->Kind(), gis::WorkspaceKind::GeoPackage);
    EXPECT_TRUE(fs::exists(dir / "Result.gpkg"));
}

TEST_F(UtilsTest, PagePositionIsSharedAndCentred) {
    Open(pxtest::StandardTasks());
    struct P : forms::Form {
        P() : Form("P") {}
        void CreateControls() override {}
    } page;
    auto ps = std::make_shared<PropertySet>();
    page.left = 1000;
    page.top = 2000;
    page.width = 6000;
    page.height = 4000;
    SaveFormPosition(page, ps);
    page.width = 4000;
    page.height = 3000;
    LoadFormPosition(page, h->session.application, ps, true);
    EXPECT_EQ(page.left, 2000);
    EXPECT_EQ(page.top, 2500);
    LoadFormPosition(page, h->session.application, ps, false);
    EXPECT_EQ(page.left, 1000);
    // Whole numbers as the platform makes them: halves to the even neighbour.
    ps->SetProperty("FormLeft", 1000.5);
    ps->SetProperty("FormTop", 2001.5);
    LoadFormPosition(page, h->session.application, ps, false);
    EXPECT_EQ(page.left, 1000);
    EXPECT_EQ(page.top, 2002);
    ps->SetProperty("FormLeft", 1001.7);
    ps->SetProperty("FormTop", 2000.5);
    LoadFormPosition(page, h->session.application, ps, false);
    EXPECT_EQ(page.left, 1002);
    EXPECT_EQ(page.top, 2000);
    ps->SetProperty("FormLeft", 1e9);
    LoadFormPosition(page, h->session.application, ps, false);
    EXPECT_EQ(page.left + page.width, platform::Screen().width);
    EXPECT_EQ(page.top, 2000);
    ps->SetProperty("FormLeft", 1000.0);
    ps->SetProperty("FormTop", 1e9);
    LoadFormPosition(page, h->session.application, ps, false);
    EXPECT_EQ(page.left, 1000);
    EXPECT_EQ(page.top + page.height, platform::Screen().height);
}

TEST(SysFolderProv, SubFolderIsCreatedOneLevel) {
    pxtest::ScratchDir dir;
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    SysFolderProv p;
    EXPECT_EQ(p.GetSystemFolder(0, platform::kFolderAppData, 0, ""), dir.Path().string());
    std::string sub = p.GetSystemFolder(0, platform::kFolderAppData, 0, "/Plexa");
    EXPECT_TRUE(fs::is_directory(sub));
    EXPECT_EQ(p.GetSystemFolder(0, 999, 0, "/x"), "");
}
