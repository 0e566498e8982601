// The household way end to end: the wizard through the scripted driver,
// a real household-data service, the rendered layer, the job-id message and
// linking the service's table to a re-opened analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "PXCP/PXCPHouseholdData.h"
#include "PXCP/PXCPHouseholdDataFunction.h"
#include "PXCP/PXCPMain.h"
#include "PXCP/Register.h"
#include "TestSupport.h"
#include "host/gis/Map.h"
#include "i18n/modi18N.h"
#include "service/HouseholdDataClient.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

class HouseholdWayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
        // The sample configuration, with its data and analyses in place.
        std::ifstream in(SourceDir() + "/data/nc.xml");
        std::stringstream text;
        text << in.rdbuf();
        std::string xml = ReplaceAll(text.str(), "data=\"sample\"", "data=\"" + SampleDir() + "\"");
        xml = ReplaceAll(xml, "<PlexaConfiguration ", "<PlexaConfiguration analyses=\"" + (dir / "analyses") + "\" ");
        std::ofstream(dir / "nc.xml") << xml;
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("PLEXA_REGISTRY", (dir / "registry.ini").c_str(), 1);
        h = std::make_unique<Harness>(dir / "nc.xml");
        service = std::make_unique<ServiceProcess>(std::vector<std::string>{"--job-seconds", "0"});
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("PLEXA_REGISTRY");
    }
    // backFromReport: the analyst goes back from the report page once.
    static std::string Script(const std::string& name, bool wait, bool backFromReport = false) {
        return "SelectGeographyLevelDialog: click HouseholdDataOption\n"
               "SelectGeographyLevelDialog: click NextButton\n"
               "LoginToQuillonDialog: type UserNameText demo\n"
               "LoginToQuillonDialog: type PasswordText demo\n"
               "LoginToQuillonDialog: click NextButton\n"
               "SelectHouseholdDataDialog: toggle CategoryList \"Household income\" on\n"
               "SelectHouseholdDataDialog: toggle TargetList 1 on\n"
               "SelectHouseholdDataDialog: toggle TargetList 2 on\n"
               "SelectHouseholdDataDialog: click PercentageOption\n"
               "SelectHouseholdDataDialog: type MinimumTargetText 15\n" +
               std::string(wait ? "" : "SelectHouseholdDataDialog: click DontWaitOption\n") +
               "SelectHouseholdDataDialog: click NextButton\n"
               "SelectAnalysisNameDialog: type AnalysisNameText \"" + name + "\"\n"
               "SelectAnalysisNameDialog: click NextButton\n" +
               std::string(backFromReport ? "SelectReportDialog: click BackButton\n"
                                            "SelectHouseholdDataDialog: click NextButton\n"
                                            "SelectAnalysisNameDialog: click NextButton\n"
                                          : "") +
               "SelectReportDialog: click NextButton\n";
    }
    long Run(AnalysisPtr source = nullptr) {
        auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
        main = std::dynamic_pointer_cast<pxcp::PXCPMain>(task);
        task->Init(h->session.dataManager, h->session.application);
        // A re-opened analysis comes with the settings the host hands on.
        auto settings = source ? PageSettingsForReopen(*source) : h->session.pageSettings;
        Variant ps(settings), src(source ? Variant(source) : Variant(nullptr));
        task->SetParam("PropertySet", ps);
        task->SetParam("SourceAnalysis", src);
        long r = task->DoParamSelector();
        if (r == 1) {
            task->InitFunction();
            task->StartFunction();
        }
        return r;
    }
    std::shared_ptr<pxcp::PXCPHouseholdData> Sub() {
        return std::dynamic_pointer_cast<pxcp::PXCPHouseholdData>(main->SubTask());
    }
    ScratchDir dir;
    std::unique_ptr<Harness> h;
    std::unique_ptr<ServiceProcess> service;
    std::shared_ptr<pxcp::PXCPMain> main;
};

TEST_F(HouseholdWayTest, WaitingRunDrawsFiveClassesOfPercent) {
    h->driver->LoadScript(Script("Income", true, true));
    ASSERT_EQ(Run(), 1);
    ASSERT_TRUE(h->driver->Problems().empty()) << h->driver->Problems().front();
    // Back on the report page showed the data page again.
    const auto& pages = h->driver->PagesShown();
    auto report = std::find(pages.begin(), pages.end(), "SelectReportDialog");
    ASSERT_NE(report, pages.end());
    ASSERT_NE(report + 1, pages.end());
    EXPECT_EQ(report[1], "SelectHouseholdDataDialog");
    auto sub = Sub();
    ASSERT_TRUE(sub && sub->resultLayer) << (sub ? sub->errorText : "no sub-task");
    auto fc = sub->resultLayer->featureClass;
    EXPECT_GT(fc->RowCount(nullptr), 0);
    auto r = std::dynamic_pointer_cast<gis::ClassBreaksRenderer>(sub->resultLayer->renderer);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->field, "PERCENT");
    EXPECT_EQ(r->breaks.size(), 5u);
    EXPECT_EQ(r->colors.front().g, 254);  // the default ramp, light to dark
    EXPECT_EQ(r->colors.back().g, 118);
    EXPECT_NE(r->labels.front().find(" - "), std::string::npos);
    EXPECT_EQ(r->labels.front().substr(r->labels.front().size() - 2), " %");
    // The analysis keeps its query and its properties point at the keys.
    auto a = h->session.dataManager->GetAnalysis("Income");
    ASSERT_TRUE(a);
    EXPECT_TRUE(fs::exists(a->Folder() + "AnalysisParams.hhq"));
    EXPECT_TRUE(fs::exists(a->Folder() + "tmp.dbf"));
    EXPECT_EQ(a->GetProperty("AreaID").ToString(), "KEY");
}

TEST_F(HouseholdWayTest, NotWaitingTellsTheJobAndLinkingItsTableLater) {
    h->driver->LoadScript(Script("Later", false));
    ASSERT_EQ(Run(), 1);
    auto sub = Sub();
    ASSERT_TRUE(sub && sub->resultLayer) << (sub ? sub->errorText : "");
    EXPECT_TRUE(std::dynamic_pointer_cast<gis::SimpleRenderer>(sub->resultLayer->renderer));
    ASSERT_FALSE(sub->jobId.empty());
    auto& msg = forms::MessageLog().back();
    EXPECT_EQ(msg.title, pxcp::FindString(268));
    EXPECT_NE(msg.text.find(sub->jobId), std::string::npos);

    // Fetch the table into the analysis folder, re-open, link it, keep the name.
    auto later = h->session.dataManager->GetAnalysis("Later");
    std::string table = later->Folder() + "tmp.dbf";
    pxcp::HouseholdDataClient::FetchResult(service->Host(), "velmar/QuISAPISOAPGateWay.dll", sub->jobId, table, "demo", "demo");
    h->driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectOpenHHWayDialog: click LinkDBFRBT
SelectOpenHHWayDialog: click NextButton
SelectReportDialog: click NextButton
)");
    ASSERT_EQ(Run(later), 1);
    ASSERT_TRUE(h->driver->Problems().empty()) << h->driver->Problems().front();
    auto linked = Sub();
    ASSERT_TRUE(linked && linked->resultLayer) << (linked ? linked->errorText : "");
    EXPECT_TRUE(std::dynamic_pointer_cast<gis::ClassBreaksRenderer>(linked->resultLayer->renderer));
    // The linked table lived in the replaced analysis's folder and survived.
    auto again = h->session.dataManager->GetAnalysis("Later");
    EXPECT_TRUE(fs::exists(again->Folder() + "tmp.dbf"));
    EXPECT_GT(linked->resultLayer->featureClass->RowCount(nullptr), 0);
}

// The household worker, with the parameters it was handed.
struct RecordingWorker : pxcp::PXCPHouseholdDataFunction {
    static inline std::map<std::string, Variant> params;
    bool SetParam(const std::string& name, Variant& value) override {
        params[name] = value;
        return PXCPHouseholdDataFunction::SetParam(name, value);
    }
};

TEST_F(HouseholdWayTest, LinkingATableSetsNoMinimumAndBackOnItsReportPageLeavesTheWay) {
    // An analysis made with a percentage minimum of 15 whose service table
    // lies in its folder.
    auto old = h->session.dataManager->CreateAnalysis("Linked");
    std::ofstream(old->Folder() + "AnalysisParams.hhq")
        << "<CPHHQFILE><COMMONPROPERTIES><COMMONPROPERTY name=\"MinimumTargetValue\" value=\"15\"/>"
           "<COMMONPROPERTY name=\"NumbersOption\" value=\"False\"/></COMMONPROPERTIES><CATEGORIES/></CPHHQFILE>";
    std::string table = old->Folder() + "tmp.dbf";
    std::ofstream(table) << "x";
    auto settings = h->session.pageSettings;
    settings->SetProperty("DemogOrHouseholdWay", "False");
    settings->SetProperty("DemographyLevelName", "Counties");
    // Back on the report page goes back out of the household way.
    h->driver->LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectOpenHHWayDialog: click LinkDBFRBT
SelectOpenHHWayDialog: click NextButton
SelectReportDialog: click BackButton
SelectGeographyLevelDialog: click NextButton
SelectOpenHHWayDialog: click NextButton
SelectReportDialog: click NextButton
)");
    RecordingWorker::params.clear();
    ObjectFactory::Instance().Register("PXCP.PXCPHouseholdDataFunction", [] { return std::make_shared<RecordingWorker>(); });
    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(h->session.dataManager, h->session.application);
    Variant ps(settings), src(old);
    task->SetParam("PropertySet", ps);
    task->SetParam("SourceAnalysis", src);
    long result = task->DoParamSelector();
    bool initialised = result == 1 && task->InitFunction();
    pxcp::RegisterPXCPClasses();
    ASSERT_EQ(result, 1);
    EXPECT_TRUE(h->driver->Problems().empty()) << h->driver->Problems().front();
    EXPECT_EQ(h->driver->PagesShown(),
              (std::vector<std::string>{"SelectGeographyLevelDialog", "SelectOpenHHWayDialog", "SelectReportDialog",
                                        "SelectGeographyLevelDialog", "SelectOpenHHWayDialog", "SelectReportDialog"}));
    EXPECT_TRUE(initialised);
    auto& params = RecordingWorker::params;
    EXPECT_TRUE(params["LinkDBF"].ToBool());
    EXPECT_EQ(params["DBFFilePath"].ToString(), table);
    EXPECT_TRUE(params["Wait"].ToBool());
    // The old query's minimum is not taken over.
    EXPECT_EQ(params["MinimumTarget"].ToDouble(), 0.0);
    EXPECT_TRUE(params["IsNumberTarget"].ToBool());
}

TEST_F(HouseholdWayTest, BackWalksThePagesInOrder) {
    h->driver->LoadScript(R"(SelectGeographyLevelDialog: click HouseholdDataOption
SelectGeographyLevelDialog: click NextButton
LoginToQuillonDialog: type UserNameText demo
LoginToQuillonDialog: click NextButton
SelectHouseholdDataDialog: click BackButton
LoginToQuillonDialog: click BackButton
SelectGeographyLevelDialog: click CancelButton
)");
    EXPECT_NE(Run(), 1);
    EXPECT_TRUE(h->driver->Problems().empty()) << h->driver->Problems().front();
    EXPECT_TRUE(h->driver->Finished());
}

TEST_F(HouseholdWayTest, ARejectedLoginLeavesNoAnalysis) {
    h->driver->LoadScript(ReplaceAll(Script("Refused", true), "PasswordText demo", "PasswordText wrong"));
    ASSERT_EQ(Run(), 1);
    auto sub = Sub();
    EXPECT_EQ(sub->LastError(), 34);
    EXPECT_NE(sub->errorText.find("not valid"), std::string::npos) << sub->errorText;
    EXPECT_FALSE(h->session.dataManager->AnalysisExists("Refused"));
}

}  // namespace

TEST_F(HouseholdWayTest, ChangingTheQueryOfAReopenedAnalysisStartsFromItsQuery) {
    h->driver->LoadScript(Script("Income", true));
    ASSERT_EQ(Run(), 1);
    auto a = h->session.dataManager->GetAnalysis("Income");
    ASSERT_TRUE(a);
    std::string minimum;
    std::vector<long> targets;
    bool percentage = false;
    h->driver->LoadScript("SelectGeographyLevelDialog: click NextButton\n"
                          "SelectOpenHHWayDialog: click ChangeQueryRBT\n"
                          "SelectOpenHHWayDialog: click NextButton\n"
                          "LoginToQuillonDialog: click NextButton\n");
    h->driver->On("SelectHouseholdDataDialog", [&](forms::Form& f) {
        minimum = f.Ctl("MinimumTargetText").Text();
        percentage = f.Ctl("PercentageOption").Value();
        f.UserSelectItem("CategoryList", 1, true);  // "Household income"
        auto& list = f.Ctl("TargetList");
        for (long i = 0; i < list.ListCount(); ++i)
            if (list.Selected(i)) targets.push_back(i);
        f.UserClick("CancelButton");
    });
    Run(a);
    EXPECT_EQ(minimum, "15");
    EXPECT_TRUE(percentage);
    EXPECT_EQ(targets, (std::vector<long>{1, 2}));
}
