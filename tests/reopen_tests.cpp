// Re-opening an analysis: the host hands the wizard the settings the
// analysis was made with and its own query file, so that its data page
// opens as the analysis was run.
#include <gtest/gtest.h>

#include <fstream>

#include "PXCP/PXCPMain.h"
#include "app/run/ProspectingRun.h"
#include "TestSupport.h"

using namespace host;
using namespace pxtest;

namespace {


long RunWizard(Harness& h, const AnalysisPtr& source, const PropertySetPtr& settings) {
    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(h.session.dataManager, h.session.application);
    Variant ps(settings), src(source ? Variant(source) : Variant(nullptr));
    task->SetParam("PropertySet", ps);
    task->SetParam("SourceAnalysis", src);
    long r = task->DoParamSelector();
    if (r == 1 && !(task->InitFunction() && task->StartFunction())) r = -2;
    task->Cleanup();
    return r;
}

}  // namespace

TEST(Reopen, TheDataPageShowsTheQueryTheAnalysisWasRunWith) {
    if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
    ScratchDir dir;
    Harness h(WriteConfig(dir, CountyTargetsTasks()));
    h.driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Infant health" on
SelectDemographicDataDialog: click PercentagesOption
SelectDemographicDataDialog: type FloorText(0) 0.3
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText "High SIDS"
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)");
    ASSERT_EQ(RunWizard(h, nullptr, h.session.pageSettings), 1);
    auto analysis = h.session.dataManager->GetAnalysis("High SIDS");
    ASSERT_TRUE(analysis);

    // A later session re-opens it: the page shows the category, its floor
    // and the percentages option, and Next runs the same query again.
    auto settings = PageSettingsForReopen(*analysis);
    EXPECT_EQ(settings->GetProperty("DMQFileFullPath").ToString(), analysis->Folder() + "AnalysisParams.dmq");
    EXPECT_FALSE(settings->HasProperty("HHQFileFullPath"));
    std::string floor, category;
    bool percentages = false;
    h.driver->LoadScript("SelectGeographyLevelDialog: click NextButton\n");
    h.driver->On("SelectDemographicDataDialog", [&](forms::Form& f) {
        auto& list = f.Ctl("CategoryList");
        category = list.ListIndex() >= 0 ? list.List()[list.ListIndex()] : "";
        floor = f.Ctl("FloorText", 0).Text();
        percentages = f.Ctl("PercentagesOption").Value();
        f.UserClick("NextButton");
    });
    h.driver->Click("SelectAnalysisNameDialog", "NextButton");
    h.driver->Click("SelectReportDialog", "NextButton");
    EXPECT_EQ(RunWizard(h, analysis, settings), 1);
    EXPECT_EQ(category, "Infant health");
    EXPECT_EQ(floor, "0.3");
    EXPECT_TRUE(percentages);
    EXPECT_TRUE(h.driver->Problems().empty()) << h.driver->Problems().front();
    // Replaced under its own name, with the same areas.
    EXPECT_EQ(h.session.dataManager->AnalysisNames().size(), 1u);
    auto again = h.session.dataManager->GetAnalysis("High SIDS");
    ASSERT_TRUE(again);
    EXPECT_EQ(gis::Workspace::OpenFolder(again->Folder())->OpenFeatureClass("Result")->RowCount(nullptr), 18);
}

TEST(Reopen, TheHouseholdQueryFileIsHandedOnWhenItIsThere) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.Path() / "Young");
    std::ofstream(dir / "Young/AnalysisParams.hhq") << "<CPHHQFILE/>";
    std::ofstream(dir / "Young/analysis.xml") << "<Analysis name=\"Young\"/>";
    DataManager dm({}, dir.Path().string());
    auto a = dm.GetAnalysis("Young");
    ASSERT_TRUE(a);
    a->SetProperty("DemogOrHouseholdWay", "False");
    auto settings = PageSettingsForReopen(*a);
    EXPECT_EQ(settings->GetProperty("HHQFileFullPath").ToString(), a->Folder() + "AnalysisParams.hhq");
    EXPECT_EQ(settings->GetProperty("DemogOrHouseholdWay").ToString(), "False");
    EXPECT_FALSE(settings->HasProperty("DMQFileFullPath"));
    // The analysis's own properties are not changed by it.
    EXPECT_FALSE(a->Properties()->HasProperty("HHQFileFullPath"));
}

// On the desktop one session runs the wizard again and again: a name typed
// in a run that was cancelled stays for the next new analysis, but does not
// become the name of an analysis made before, which re-opens with its own.
TEST(Reopen, TheNamePageShowsTheReopenedAnalysisNotANameTypedSince) {
    if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
    ScratchDir dir;
    Harness h(WriteConfig(dir, CountyTargetsTasks()));
    h.driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Infant health" on
SelectDemographicDataDialog: click PercentagesOption
SelectDemographicDataDialog: type FloorText(0) 0.3
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText "High SIDS"
SelectAnalysisNameDialog: type AnalysisCommentText "Counties of many infant deaths"
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)");
    ASSERT_TRUE(plexa::RunProspectingFromDesktop(h.session, nullptr).ok);
    auto analysis = h.session.dataManager->GetAnalysis("High SIDS");
    ASSERT_TRUE(analysis);

    h.driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Infant health" on
SelectDemographicDataDialog: type FloorText(0) 0.4
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText "Draft"
SelectAnalysisNameDialog: click CancelButton
)");
    EXPECT_EQ(plexa::RunProspectingFromDesktop(h.session, nullptr).pageResult, -1);
    EXPECT_EQ(analysis->GetProperty("Name").ToString(), "High SIDS");

    std::string name, comment;
    h.driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: click NextButton
)");
    h.driver->On("SelectAnalysisNameDialog", [&](forms::Form& f) {
        name = f.Ctl("AnalysisNameText").Text();
        comment = f.Ctl("AnalysisCommentText").Text();
        f.UserClick("CancelButton");
    });
    plexa::RunProspectingFromDesktop(h.session, analysis);
    EXPECT_TRUE(h.driver->Problems().empty()) << h.driver->Problems().front();
    EXPECT_EQ(name, "High SIDS");
    EXPECT_EQ(comment, "Counties of many infant deaths");

    // A new analysis still starts from what was typed last.
    h.driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Infant health" on
SelectDemographicDataDialog: type FloorText(0) 0.4
SelectDemographicDataDialog: click NextButton
)");
    h.driver->On("SelectAnalysisNameDialog", [&](forms::Form& f) {
        name = f.Ctl("AnalysisNameText").Text();
        f.UserClick("CancelButton");
    });
    plexa::RunProspectingFromDesktop(h.session, nullptr);
    EXPECT_EQ(name, "Draft");
}
