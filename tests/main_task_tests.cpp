// The entry task and the geography level page, driven through the script.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "PXCP/PXCPMain.h"
#include "TestSupport.h"
#include "host/framework/ErrorHandler.h"
#include "host/platform/Platform.h"
#include "i18n/modi18N.h"
#include "pages/SelectGeographyLevelDialog.h"

using namespace host;
using namespace pxtest;

namespace {

// Stands in for a sub-task: records what it is given, leaves a page
// setting behind as its pages would, and answers DoParamSelector from a list.
struct FakeSubTask : IPXTask {
    static inline std::vector<long> results;
    static inline std::vector<std::string> created;
    static inline std::vector<std::pair<std::string, Variant>> params;
    static inline bool refuseInit = false;
    // What the sub-task's pages leave in the page settings.
    static inline std::function<void(const PropertySetPtr&)> onShow;
    std::string way;
    PropertySetPtr ps;
    long LastError() override { return 7; }
    long Status() override { return 1; }
    ObjectPtr PXParamSelector() override { return nullptr; }
    IPXFunctionPtr PXFunction() override { return nullptr; }
    void Cleanup() override {}
    void Break() override {}
    bool StartFunction() override { return true; }
    long DoParamSelector() override {
        if (ps) ps->SetProperty(way == "demographic" ? "DMQFileFullPath" : "HHQFileFullPath", "x");
        if (ps && onShow) onShow(ps);
        long r = results.empty() ? 1 : results.front();
        if (!results.empty()) results.erase(results.begin());
        return r;
    }
    bool InitFunction() override { return true; }
    bool InitParamSelector() override { return true; }
    bool Init(DataManagerPtr, gis::ApplicationPtr) override { return !refuseInit; }
    bool SetParam(const std::string& name, Variant& value) override {
        params.emplace_back(name, value);
        if (name == "PropertySet") ps = value.As<PropertySet>();
        return true;
    }
};

class MainTaskTest : public ::testing::Test {
protected:
    void Open(const std::string& tasks) {
        config = WriteConfig(dir, tasks);
        h = std::make_unique<Harness>(config);
        auto& f = ObjectFactory::Instance();
        f.Register("PXCP.PXCPDemographicData", [] {
            FakeSubTask::created.push_back("demographic");
            auto t = std::make_shared<FakeSubTask>();
            t->way = "demographic";
            return t;
        });
        f.Register("PXCP.PXCPHouseholdData", [] {
            FakeSubTask::created.push_back("household");
            auto t = std::make_shared<FakeSubTask>();
            t->way = "household";
            return t;
        });
        FakeSubTask::results.clear();
        FakeSubTask::created.clear();
        FakeSubTask::params.clear();
        FakeSubTask::refuseInit = false;
        FakeSubTask::onShow = nullptr;
        task = std::make_shared<pxcp::PXCPMain>();
        ASSERT_TRUE(task->Init(h->session.dataManager, h->session.application));
        Variant ps(h->session.pageSettings), none(nullptr);
        ASSERT_TRUE(task->SetParam("PropertySet", ps));
        ASSERT_TRUE(task->SetParam("SourceAnalysis", none));
    }
    forms::ScriptedDriver& D() { return *h->driver; }
    const char* Page = "SelectGeographyLevelDialog";
    ScratchDir dir;
    std::string config;
    std::unique_ptr<Harness> h;
    std::shared_ptr<pxcp::PXCPMain> task;
};

TEST_F(MainTaskTest, BackAndCancelOnTheFirstPageEndTheWizard) {
    Open(StandardTasks());
    D().Click(Page, "BackButton");
    EXPECT_EQ(task->DoParamSelector(), 2);
    D().Click(Page, "CancelButton");
    EXPECT_EQ(task->DoParamSelector(), -1);
    EXPECT_TRUE(D().Problems().empty());
    // Nothing was started: no sub-task, so running fails with 47.
    EXPECT_FALSE(task->InitFunction());
    EXPECT_FALSE(task->StartFunction());
    EXPECT_EQ(task->LastError(), 47);
    EXPECT_EQ(task->Status(), 1);
    EXPECT_TRUE(FakeSubTask::created.empty());
    // The page settings hold the first page's choices and position.
    auto ps = h->session.pageSettings;
    EXPECT_EQ(ps->GetProperty("DemogOrHouseholdWay").ToString(), "True");
    EXPECT_EQ(ps->GetProperty("DemographyLevelName").ToString(), "Counties");
    EXPECT_EQ(ps->GetProperty("AnalysisType").ToString(), "Customer Prospecting");
    EXPECT_EQ(ps->GetProperty("AnalysisName").ToString(), "Customer Prospecting");
    EXPECT_TRUE(ps->HasProperty("FormLeft"));
}

TEST_F(MainTaskTest, NextHandsTheContextToTheSubTaskInOrder) {
    Open(StandardTasks());
    D().SelectText(Page, "GeographyLevelsList", "Counties");
    D().Click(Page, "NextButton");
    EXPECT_EQ(task->DoParamSelector(), 1);
    ASSERT_EQ(FakeSubTask::created, std::vector<std::string>{"demographic"});
    std::vector<std::string> keys;
    for (auto& [k, v] : FakeSubTask::params) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"SourceAnalysis", "PropertySet", "CustomerProspectingTask", "MainLayerName",
                                              "MainDSLayer", "AdditionalFieldsCol", "DemogrLevelName"}));
    EXPECT_EQ(FakeSubTask::params[3].second.ToString(), "Counties");
    EXPECT_EQ(FakeSubTask::params[5].second.As<StringList>()->Items(), std::vector<std::string>{"NAME"});
    EXPECT_EQ(FakeSubTask::params[6].second.ToString(), "Counties");
    // The sub-task's own error shows through while the main task has none.
    EXPECT_EQ(task->LastError(), 7);
}

TEST_F(MainTaskTest, EmptyAdditionalFieldsPassNothingAndTractsHasNoHouseholdWay) {
    Open(StandardTasks());
    D().SelectText(Page, "GeographyLevelsList", "Tracts");
    D().On(Page, [](forms::Form& f) {
        // A level without a household entry hides both ways.
        EXPECT_FALSE(f.Ctl("HouseholdDataOption").visible);
        EXPECT_FALSE(f.Ctl("DemographicDataOption").visible);
        EXPECT_FALSE(f.Ctl("Label2").visible);
        EXPECT_EQ(f.Ctl("DemographicDataOption").caption, pxcp::FindString(213) + "Tracts");
    });
    D().Click(Page, "NextButton");
    EXPECT_EQ(task->DoParamSelector(), 1);
    EXPECT_TRUE(FakeSubTask::params[5].second.IsNothing());
}

TEST_F(MainTaskTest, BackFromTheSubTaskShowsTheFirstPageAgainAndSwitchingWayEmptiesSettings) {
    Open(StandardTasks());
    FakeSubTask::results = {2, 2, 1};
    // Demographic way first; the fake leaves DMQFileFullPath behind.
    D().Click(Page, "NextButton");
    // Back from the sub-task: same way again keeps the settings.
    D().On(Page, [this](forms::Form& f) {
        EXPECT_TRUE(h->session.pageSettings->HasProperty("DMQFileFullPath"));
        EXPECT_TRUE(f.Ctl("DemographicDataOption").Value());
        f.UserClick("NextButton");
    });
    // Back again: now switch to the household way.
    D().Click(Page, "HouseholdDataOption");
    D().Click(Page, "NextButton");
    EXPECT_EQ(task->DoParamSelector(), 1);
    EXPECT_EQ(FakeSubTask::created, (std::vector<std::string>{"demographic", "demographic", "household"}));
    auto ps = h->session.pageSettings;
    EXPECT_FALSE(ps->HasProperty("DMQFileFullPath"));
    EXPECT_EQ(ps->GetProperty("HHQFileFullPath").ToString(), "x");
    EXPECT_EQ(ps->GetProperty("DemogOrHouseholdWay").ToString(), "False");
    EXPECT_TRUE(D().Problems().empty());
}

TEST_F(MainTaskTest, TheFirstPageIsCentredOnTheLaterPageOnlyWhenComingBack) {
    Open(StandardTasks());
    auto ps = h->session.pageSettings;
    // Where a page of an earlier run stood: the first showing takes its
    // corner as it is.
    ps->SetProperty("FormLeft", 600.0);
    ps->SetProperty("FormTop", 900.0);
    ps->SetProperty("FormWidth", 9375.0);
    ps->SetProperty("FormHeight", 7200.0);
    // The sub-task's last page stood elsewhere, and larger, when the
    // analyst went back.
    FakeSubTask::onShow = [](const PropertySetPtr& settings) {
        settings->SetProperty("FormLeft", 1000.0);
        settings->SetProperty("FormTop", 1200.0);
        settings->SetProperty("FormWidth", 9375.0);
        settings->SetProperty("FormHeight", 7200.0);
    };
    FakeSubTask::results = {2, -1};
    std::vector<std::array<double, 4>> shown;
    auto record = [&](forms::Form& f) {
        shown.push_back({f.left, f.top, f.width, f.height});
        f.UserClick("NextButton");
    };
    D().On(Page, record);
    D().On(Page, record);
    EXPECT_EQ(task->DoParamSelector(), -1);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0][0], 600);
    EXPECT_EQ(shown[0][1], 900);
    auto [left, top, width, height] = shown[1];
    ASSERT_NE(width, 9375);
    EXPECT_EQ(left, 1000 + std::floor((9375 - width) / 2));
    EXPECT_EQ(top, 1200 + std::floor((7200 - height) / 2));
}

TEST_F(MainTaskTest, LevelWithoutMainLayerShowsMessage264AndEndsWithZero) {
    Open(R"(<Task name="CustomerProspecting">
      <Task name="CustomerProspecting.ByLayer" caption="Counties"/></Task>)");
    D().Click(Page, "NextButton");
    EXPECT_EQ(task->DoParamSelector(), 0);
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(264));
    EXPECT_EQ(forms::MessageLog()[0].title, pxcp::FindString(198));
    EXPECT_EQ(forms::MessageLog()[0].style, forms::vbInformation | forms::vbOKOnly);
    EXPECT_TRUE(FakeSubTask::created.empty());
}

TEST_F(MainTaskTest, SubTaskThatRefusesItsContextEndsWithZero) {
    Open(StandardTasks());
    FakeSubTask::refuseInit = true;
    D().Click(Page, "NextButton");
    EXPECT_EQ(task->DoParamSelector(), 0);
    ASSERT_EQ(ErrorHandler::Log().size(), 1u);
    // No run-time error happened: the report carries the empty error values.
    const auto& report = ErrorHandler::Log().back();
    EXPECT_EQ(report.location, "ShowSelectGeographyLevelDialog PXCP\\PXCPMain.cls");
    EXPECT_EQ(report.number, 0);
    EXPECT_EQ(report.source, "");
    EXPECT_EQ(report.description, "");
}

TEST_F(MainTaskTest, OnlyTwoParameterKeysAreAccepted) {
    Open(StandardTasks());
    Variant v("x");
    EXPECT_FALSE(task->SetParam("MainLayerName", v));
    EXPECT_FALSE(task->SetParam("propertyset", v));
}

TEST_F(MainTaskTest, DatasetWithoutLevelsOffersNothing) {
    Open(R"(<Task name="CustomerProspecting"><Task name="Other" caption="x"/></Task>)");
    D().On(Page, [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("Label1").caption, pxcp::FindString(214));
        EXPECT_FALSE(f.Ctl("NextButton").enabled);
        EXPECT_FALSE(f.Ctl("GeographyLevelsList").enabled);
        EXPECT_TRUE(f.Ctl("BackButton").enabled);
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(task->DoParamSelector(), -1);
    EXPECT_TRUE(D().Problems().empty());
}

TEST_F(MainTaskTest, DatasetWithoutEntryShowsTheErrorFirst) {
    Open(R"(<Task name="Projections"/>)");
    D().Click(Page, "CancelButton");
    EXPECT_EQ(task->DoParamSelector(), -1);
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_NE(forms::MessageLog()[0].text.find("Customer Prospecting"), std::string::npos);
    EXPECT_EQ(forms::MessageLog()[0].style, forms::vbOKOnly);
    // After the message an empty list ends the initialisation: the page
    // keeps its design texts and states.
    D().On(Page, [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("GeographyLevelsList").ListCount(), 0);
        EXPECT_EQ(f.Ctl("Label1").caption, pxcp::FindString(211));
        EXPECT_TRUE(f.Ctl("GeographyLevelsList").enabled);
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(task->DoParamSelector(), -1);
    EXPECT_TRUE(D().Problems().empty());
}

TEST_F(MainTaskTest, NextOnAWayTheLevelLacksShowsMessage215) {
    // The household entry of "Counties" exists, so the option is offered;
    // a page driven to the household way of a level without it must refuse.
    Open(StandardTasks());
    D().On(Page, [](forms::Form& f) {
        f.Ctl("HouseholdDataOption").enabled = true;
        f.Ctl("GeographyLevelsList").SetListIndex(1);  // Tracts
        f.Ctl("HouseholdDataOption").enabled = true;
        f.Ctl("HouseholdDataOption").visible = true;
        f.UserClick("HouseholdDataOption");
        f.UserClick("NextButton");
        EXPECT_TRUE(f.IsVisible());
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(task->DoParamSelector(), -1);
    ASSERT_FALSE(forms::MessageLog().empty());
    EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(215));
}

TEST_F(MainTaskTest, SavedLevelAndWayComeBack) {
    Open(StandardTasks());
    h->session.pageSettings->SetProperty("DemogOrHouseholdWay", "False");
    h->session.pageSettings->SetProperty("DemographyLevelName", "Counties");
    D().On(Page, [](forms::Form& f) {
        EXPECT_TRUE(f.Ctl("HouseholdDataOption").Value());
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(task->DoParamSelector(), -1);
    // A saved level further down the list is selected again; the level
    // without a household entry then forces the demographic way.
    h->session.pageSettings->SetProperty("DemogOrHouseholdWay", "True");
    h->session.pageSettings->SetProperty("DemographyLevelName", "Tracts");
    D().On(Page, [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("GeographyLevelsList").ListIndex(), 1);
        EXPECT_EQ(f.Ctl("DemographicDataOption").caption, pxcp::FindString(213) + "Tracts");
        f.UserSelectItem("GeographyLevelsList", 0);
        f.UserClick("HouseholdDataOption");
        EXPECT_TRUE(f.Ctl("HouseholdDataOption").Value());
        f.UserSelectItem("GeographyLevelsList", 1);
        EXPECT_FALSE(f.Ctl("HouseholdDataOption").enabled);
        EXPECT_TRUE(f.Ctl("DemographicDataOption").Value());
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(task->DoParamSelector(), -1);
    h->session.pageSettings->SetProperty("DemogOrHouseholdWay", "False");
    // A saved level that no longer exists gives the first one, silently.
    h->session.pageSettings->SetProperty("DemographyLevelName", "Block groups");
    D().On(Page, [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("GeographyLevelsList").ListIndex(), 0);
        f.UserClick("CancelButton");
    });
    forms::MessageLog().clear();
    EXPECT_EQ(task->DoParamSelector(), -1);
    EXPECT_TRUE(forms::MessageLog().empty());
}

TEST_F(MainTaskTest, NoDatasetOfTheCurrentNameLeavesThePageEmpty) {
    config = WriteConfig(dir, StandardTasks(), "Elsewhere");
    h = std::make_unique<Harness>(config);
    pxcp::PXCPMain main;
    ASSERT_TRUE(main.Init(h->session.dataManager, h->session.application));
    h->driver->Click(Page, "CancelButton");
    EXPECT_EQ(main.DoParamSelector(), -1);
    ASSERT_EQ(forms::MessageLog().size(), 1u);  // the initialisation failure
}

TEST_F(MainTaskTest, HelpOpensTheProspectingTopic) {
    Open(StandardTasks());
    D().Click(Page, "HelpButton");
    D().Click(Page, "CancelButton");
    task->DoParamSelector();
    ASSERT_FALSE(platform::HelpLog().empty());
}

}  // namespace
