// The customer profile pages: rows and ticks, the requests they leave for
// the data page, the populate rule, and the whole way from a customer layer
// to floors and ceilings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CustomerProfile/CustomerProfileDialog.h"
#include "CustomerProfile/CustomerProfilePopulate.h"
#include "CustomerProfile/ProfileOutputs.h"
#include "PXCP/PXAnalysisUtils.h"
#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPMain.h"
#include "TestSupport.h"
#include "i18n/modi18N.h"
#include "pages/DemographicQuery.h"
#include "pages/SelectDemographicDataDialog.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

// Births (two targets, one not in the layer), a category left out of
// profiles, a target left out, and infant health.
std::string Tasks() {
    return R"(<Task name="CustomerProspecting">
  <Task name="CustomerProspecting.ByLayer" caption="Counties" level="County" type="ByLayer">
    <Param key="MainLayer" value="Counties"/>
    <Years><Year>1974-78</Year><Year>1979-84</Year></Years>
    <Category id="Births" caption="Births">
      <Target name="Live births" CanPercent="False"><Field year="1" number="BIR74"/><Field year="2" number="BIR79"/></Target>
      <Target name="Twins" CanPercent="False"><Field year="1" number="TWINS74"/><Field year="2" number="TWINS79"/></Target>
    </Category>
    <Category id="Hidden" caption="Hidden" IsProfiled="False">
      <Target name="Area" CanPercent="False"><Field year="1" number="AREA"/><Field year="2" number="AREA"/></Target>
    </Category>
    <Category id="Infant health" caption="Infant health">
      <Target name="Unprofiled" IsProfiledName="False" CanPercent="False"><Field year="1" number="SID74"/></Target>
      <Target name="Sudden infant deaths" CanPercent="True"><Field year="1" number="SID74" percent="BIR74"/><Field year="2" number="SID79" percent="BIR79"/></Target>
      <Target name="Non-white births" CanPercent="True"><Field year="1" number="NWBIR74" percent="BIR74"/></Target>
    </Category>
  </Task>
</Task>)";
}

class ProfileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
        h = std::make_unique<Harness>(WriteConfig(dir, Tasks()));
        customers = pxcp::OpenLayerFile(SampleDir() + "/zipcodes.shp");
        ASSERT_TRUE(customers);
        h->session.application->FocusMap()->AddLayer(customers);
        for (auto& d : h->session.config.datasets)
            for (auto& t : d->tasks)
                for (auto& e : t->subEntries) entry = e;
        dataset = h->session.config.datasets.front();
    }
    std::shared_ptr<pxcp::CustomerProfileDialog> Dialog(int16_t year = 1) {
        auto d = std::make_shared<pxcp::CustomerProfileDialog>();
        d->mainTask = entry;
        d->businessDataset = dataset;
        d->m_nYearIndex = year;
        d->dataManager = h->session.dataManager;
        d->application = h->session.application;
        d->InitializeDialog();
        d->ResetParams();
        return d;
    }
    static std::string Cell(pxcp::CustomerProfileDialog& d, long row, long col) {
        return d.Ctl("CharacteristicsGrid").Cell(row, col).text;
    }
    static std::string Picture(pxcp::CustomerProfileDialog& d, long row, long col) {
        return d.Ctl("CharacteristicsGrid").Cell(row, col).picture;
    }
    forms::ScriptedDriver& D() { return *h->driver; }
    ScratchDir dir;
    std::unique_ptr<Harness> h;
    gis::FeatureLayerPtr customers;
    TaskEntryPtr entry;
    DatasetPtr dataset;
};

TEST_F(ProfileDialogTest, RowsFollowTheCatalogueAndTheYear) {
    auto d = Dialog();
    auto& rows = *d->m_pStateCol;
    ASSERT_EQ(rows.Count(), 4);  // no hidden category, no unprofiled target
    auto row = [&](long k) { return rows.Item(std::to_string(k)).As<Collection>(); };
    EXPECT_EQ(row(0)->Item("First").ToString(), "True");
    EXPECT_EQ(row(1)->Item("First").ToString(), "False");
    EXPECT_FALSE(row(1)->Contains("Cat.caption"));
    EXPECT_EQ(row(2)->Item("First").ToString(), "True");  // first profiled target of its category
    EXPECT_EQ(row(2)->Item("Cat.caption").ToString(), "Infant health");
    EXPECT_EQ(row(0)->Item("3").ToLong(), 1);
    EXPECT_EQ(row(1)->Item("3").ToLong(), 0);  // twins are not in the layer
    EXPECT_EQ(d->LayerDisplayName(), "Counties");
    // Grid: header in row 1, characteristic k in row k + 2.
    EXPECT_EQ(Cell(*d, 1, 0), "CATEGORY");
    EXPECT_EQ(Cell(*d, 1, 4), "AVERAGE");
    EXPECT_EQ(Cell(*d, 2, 0), "Births");
    EXPECT_EQ(Cell(*d, 3, 0), "");
    EXPECT_EQ(Cell(*d, 4, 3), "Sudden infant deaths");
    EXPECT_EQ(Picture(*d, 2, 1), "red");
    EXPECT_EQ(Picture(*d, 2, 2), "uncheck");

    // A tick survives a re-showing for the same year and is lost with another.
    d->Ctl("CharacteristicsGrid");
    ASSERT_TRUE(d->UserClickCell("CharacteristicsGrid", 2, 3));
    EXPECT_EQ(row(0)->Item("2").ToLong(), 1);
    d->ResetParams();
    EXPECT_EQ(d->m_pStateCol->Item("0").As<Collection>()->Item("2").ToLong(), 1);
    d->m_nYearIndex = 2;
    d->ResetParams();
    // Year 2 stops at the target without a field for that year.
    ASSERT_EQ(d->m_pStateCol->Count(), 3);
    auto made = pxcp::MakeCharacteristicRows(*entry, nullptr, 2);
    EXPECT_EQ(made.rows->Count(), 3);
    EXPECT_EQ(made.lacking, std::make_pair(std::string("Infant health"), std::string("Non-white births")));
    EXPECT_EQ(pxcp::MakeCharacteristicRows(*entry, nullptr, 1).lacking.second, "");
    EXPECT_EQ(d->m_pStateCol->Item("0").As<Collection>()->Item("2").ToLong(), 0);
    EXPECT_EQ(d->Ctl("CharacteristicsGrid").Rows(), 5);
}

TEST_F(ProfileDialogTest, TicksSelectionButtonsAndAverages) {
    auto d = Dialog();
    auto row = [&](long k) { return d->m_pStateCol->Item(std::to_string(k)).As<Collection>(); };
    d->UserClickCell("CharacteristicsGrid", 3, 2);
    d->UserClickCell("CharacteristicsGrid", 4, 4);  // the average column does not tick
    d->UserClickCell("CharacteristicsGrid", 1, 2);  // nor does the header
    EXPECT_EQ(row(1)->Item("2").ToLong(), 1);
    EXPECT_EQ(row(2)->Item("2").ToLong(), 0);
    EXPECT_EQ(d->Ctl("CharacteristicsGrid").col, 2);
    EXPECT_EQ(Picture(*d, 3, 2), "check");
    EXPECT_EQ(d->Ctl("HeaderSel").caption, "1" + pxcp::FindString(126));

    row(0)->Replace("Value", 2.5);
    row(2)->Replace("Value", 3.5);
    row(2)->Replace("Chance", "% chance");
    row(3)->Add("not profiled: no value of NWBIR74 in Ashe (37009)", "Reason");
    d->ResetParams();
    EXPECT_EQ(Cell(*d, 2, 4), "2");  // halves go to the even neighbour
    EXPECT_EQ(Cell(*d, 4, 4), "4% chance");
    EXPECT_EQ(Picture(*d, 2, 1), "green");
    EXPECT_EQ(Cell(*d, 5, 4), "not profiled: no value of NWBIR74 in Ashe (37009)");
    EXPECT_EQ(Picture(*d, 5, 1), "red");
    EXPECT_EQ(row(0)->Item("Value").ToDouble(), 2.5);  // the stored value keeps its decimal

    d->UserClick("SelectAllProfiledButton");
    std::vector<long> ticks;
    for (long k = 0; k < 4; ++k) ticks.push_back(row(k)->Item("2").ToLong());
    EXPECT_EQ(ticks, (std::vector<long>{1, 0, 1, 0}));
    d->UserClick("SelectAllButton");
    EXPECT_EQ(d->Ctl("HeaderSel").caption, "4" + pxcp::FindString(126));
    d->UserClick("SelectNoneButton");
    EXPECT_EQ(d->Ctl("HeaderSel").caption, pxcp::FindString(115));
    EXPECT_EQ(Picture(*d, 5, 2), "uncheck");
}

TEST_F(ProfileDialogTest, NewProfileAsksWhatItNeedsAndLeavesARequest) {
    auto d = Dialog();
    d->UserClick("NewButton");
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(132));
    d->UserClickCell("CharacteristicsGrid", 3, 2);  // twins: ticked but not in the layer
    d->UserClick("NewButton");
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(133));
    EXPECT_FALSE(d->m_bNewProfilePushed);

    d->UserClickCell("CharacteristicsGrid", 2, 2);
    d->m_pStateCol->Item("3").As<Collection>()->Add("not profiled: no value of NWBIR74 in Ashe (37009)", "Reason");
    customers->selection = {1, 2, 3};
    D().On("CustomerProfileNew", [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("lLabelNumAttr").caption,
                  "You will be profiling 2 selected attribute(s) in the Counties layer (1974-78 data).");
        auto& box = f.Ctl("chkUseSelected");
        EXPECT_TRUE(box.enabled);
        EXPECT_NE(box.caption.find("3 of "), std::string::npos);
        f.UserClick("chkUseSelected");
        f.UserClick("ProfileButton");
    });
    d->UserClick("NewButton");
    EXPECT_TRUE(D().Problems().empty()) << D().Problems().front();
    EXPECT_TRUE(d->m_bNewProfilePushed);
    EXPECT_FALSE(d->m_pStateCol->Item("3").As<Collection>()->Contains("Reason"));  // the last profile's
    EXPECT_EQ(d->closeCode, 0);
    EXPECT_TRUE(d->m_bSelected);
    EXPECT_EQ(d->m_pCustomerDataset, customers);
    EXPECT_EQ(d->Ctl("header2").caption, pxcp::FindString(136) + customers->name);
    EXPECT_EQ(d->Ctl("header3").caption, pxcp::FindString(137) + "Counties (1974-78" + pxcp::FindString(138));

    // Closing the page is a cancel that keeps the page and its rows.
    d->Unload();
    EXPECT_TRUE(d->IsLoaded());
    EXPECT_EQ(d->closeCode, -1);
    EXPECT_FALSE(d->m_bNewProfilePushed);

    // Without a selection the box is off and the whole layer counts.
    customers->selection.clear();
    D().On("CustomerProfileNew", [](forms::Form& f) {
        EXPECT_FALSE(f.Ctl("chkUseSelected").enabled);
        f.Ctl("chkUseSelected").SetValue(true);
        f.UserClick("ProfileButton");
    });
    d->UserClick("NewButton");
    EXPECT_FALSE(d->m_bSelected);
}

TEST_F(ProfileDialogTest, PopulateAnswersAndTheVarianceOfferedNextTime) {
    auto d = Dialog();
    auto row = [&](long k) { return d->m_pStateCol->Item(std::to_string(k)).As<Collection>(); };
    d->UserClick("PopulateButton");
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(127));
    row(0)->Replace("Value", 1200.0);
    row(1)->Replace("Value", 7.0);  // not in the layer: never populated
    row(2)->Replace("Value", 40.0);
    row(2)->Replace("Chance", "% chance");
    d->UserClick("SelectAllButton");
    D().On("CustomerProfilePopulate", [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("LabelNumAttr").caption, pxcp::FindString(129) + "2" + pxcp::FindString(130));
        EXPECT_TRUE(f.Ctl("optFloor").Value());
        EXPECT_EQ(f.Ctl("chkClear").caption, pxcp::FindString(120));
        EXPECT_EQ(f.Ctl("txtVariance").Text(), "0");
        for (const char* bad : {"100.5", "-1", "", "ten"}) {
            f.UserType("txtVariance", -1, bad);
            EXPECT_FALSE(f.Ctl("PopulateButton").enabled) << bad;
        }
        f.UserType("txtVariance", -1, "12.6");
        f.UserClick("optFloorAndCeiling");
        f.UserClick("chkClear");
        f.UserClick("PopulateButton");
    });
    d->UserClick("PopulateButton");
    EXPECT_TRUE(d->m_bPopulateProfilePushed);
    EXPECT_EQ(d->closeCode, -1);
    EXPECT_FALSE(d->m_bNumbersOption);  // a percentage row is populated
    EXPECT_EQ(d->m_nManner, 2);
    EXPECT_DOUBLE_EQ(d->m_dOffset, 12.6);
    EXPECT_TRUE(d->m_bClearBefore);
    ASSERT_EQ(d->m_popul_col->Count(), 2);
    EXPECT_EQ(d->m_popul_col->Item(2).As<Collection>()->Item("1").ToString(), "Sudden infant deaths");
    d->ResetParams();
    D().On("CustomerProfilePopulate", [](forms::Form& f) {
        EXPECT_EQ(f.Ctl("txtVariance").Text(), "13");
        EXPECT_TRUE(f.Ctl("optFloorAndCeiling").Value());
        EXPECT_TRUE(f.Ctl("chkClear").Value());
        f.UserClick("CancelButton");
    });
    d->UserClick("PopulateButton");
    EXPECT_FALSE(d->m_bPopulateProfilePushed);
}

// The sample configuration as shipped: every level has a type of its own,
// and a profile file opens only at the level it was made for.
TEST(SampleLevels, AProfileFileOfAnotherLevelIsIgnored) {
    if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
    ScratchDir dir;
    std::stringstream text;
    text << std::ifstream(SourceDir() + "/data/nc.xml").rdbuf();
    std::ofstream(dir / "nc.xml") << ReplaceAll(text.str(), "data=\"sample\"", "data=\"" + SampleDir() + "\"");
    Harness h(dir / "nc.xml");
    TaskEntryPtr counties;
    for (auto& t : h.session.config.datasets.front()->tasks)
        for (auto& e : t->subEntries) {
            if (t->name != "CustomerProspecting") continue;
            EXPECT_FALSE(e->typeText.empty()) << e->name;
            if (e->name == "CustomerProspecting.ByLayer") counties = e;
        }
    ASSERT_TRUE(counties);
    auto dialog = [&] {
        auto d = std::make_shared<pxcp::CustomerProfileDialog>();
        d->mainTask = counties;
        d->businessDataset = h.session.config.datasets.front();
        d->dataManager = h.session.dataManager;
        d->application = h.session.application;
        d->InitializeDialog();
        d->ResetParams();
        return d;
    };
    auto made = dialog();
    auto first = made->m_pStateCol->Item(1).As<Collection>();
    first->Replace("2", 1);
    first->Replace("Value", 6674.1);
    std::string cpf = dir / "counties.cpf";
    made->SaveCPFFile(cpf);
    ASSERT_TRUE(dialog()->LoadCPFFile(cpf));  // its own level

    std::stringstream saved;
    saved << std::ifstream(cpf).rdbuf();
    std::string typeProperty = "name=\"CPSubTaskType\" value=\"" + counties->typeText + "\"";
    ASSERT_NE(saved.str().find(typeProperty), std::string::npos);
    // The same rows made for tracts, or where levels had no type.
    for (std::string other : {"Tracts", ""}) {
        std::ofstream(cpf) << ReplaceAll(saved.str(), typeProperty, "name=\"CPSubTaskType\" value=\"" + other + "\"");
        forms::MessageLog().clear();
        auto d = dialog();
        EXPECT_FALSE(d->LoadCPFFile(cpf)) << other;
        auto row = d->m_pStateCol->Item(1).As<Collection>();
        EXPECT_EQ(row->Item("Value").ToString(), "") << other;
        EXPECT_EQ(row->Item("2").ToLong(), 0) << other;
        EXPECT_TRUE(forms::MessageLog().empty()) << other;
    }
}

TEST(PopulateRule, WorkedExamplesAndBounds) {
    std::optional<double> floor, ceiling;
    pxcp::DemographicQuery::ProfileBounds(40, 10, 2, true, floor, ceiling);
    EXPECT_EQ(floor, 30);
    EXPECT_EQ(ceiling, 50);
    pxcp::DemographicQuery::ProfileBounds(1200, 10, 2, false, floor, ceiling);
    EXPECT_DOUBLE_EQ(*floor, 1080);
    EXPECT_DOUBLE_EQ(*ceiling, 1320);
    pxcp::DemographicQuery::ProfileBounds(95, 10, 1, true, floor, ceiling);
    EXPECT_FALSE(floor);
    EXPECT_EQ(ceiling, 100);
    pxcp::DemographicQuery::ProfileBounds(5, 10, 0, true, floor, ceiling);
    EXPECT_EQ(floor, 0);
    EXPECT_FALSE(ceiling);
    pxcp::DemographicQuery::ProfileBounds(50, 0, 2, false, floor, ceiling);
    EXPECT_EQ(floor, 50);
    EXPECT_EQ(ceiling, 50);
    EXPECT_TRUE(pxcp::CustomerProfilePopulate::IsValidVariance("0"));
    EXPECT_TRUE(pxcp::CustomerProfilePopulate::IsValidVariance("100"));
    EXPECT_FALSE(pxcp::CustomerProfilePopulate::IsValidVariance("100.5"));
}

// From the data page to a computed profile and back to floors and ceilings.
class ProfileWizardTest : public ProfileDialogTest {
protected:
    long Run(bool finish) {
        auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
        main = std::dynamic_pointer_cast<pxcp::PXCPMain>(task);
        task->Init(h->session.dataManager, h->session.application);
        Variant ps(h->session.pageSettings), none(nullptr);
        task->SetParam("PropertySet", ps);
        task->SetParam("SourceAnalysis", none);
        long r = task->DoParamSelector();
        if (r == 1 && finish) {
            task->InitFunction();
            task->StartFunction();
        }
        return r;
    }
    std::shared_ptr<pxcp::PXCPMain> main;
};

TEST_F(ProfileWizardTest, ProfileComputedReopenedAndPopulated) {
    std::shared_ptr<pxcp::DemographicQuery> model;
    double births = 0, sids = 0;
    D().LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Infant health" on
SelectDemographicDataDialog: type FloorText(0) 0.5
SelectDemographicDataDialog: click ProfileButton
CustomerProfileDialog: click SelectAllButton
CustomerProfileDialog: click NewButton
CustomerProfileNew: click ProfileButton
)");
    D().On("CustomerProfileDialog", [&](forms::Form& f) {
        auto& d = dynamic_cast<pxcp::CustomerProfileDialog&>(f);
        auto row = [&](long k) { return d.m_pStateCol->Item(std::to_string(k)).As<Collection>(); };
        births = row(0)->Item("Value").ToDouble();
        sids = row(2)->Item("Value").ToDouble();
        EXPECT_EQ(Cell(d, 4, 4), pxcp::ProfileAverageText(row(2)->Item("Value").ToString(), "% chance"));
        EXPECT_EQ(Picture(d, 2, 1), "green");
        EXPECT_EQ(Picture(d, 3, 1), "red");  // twins: not profiled
        f.UserClick("PopulateButton");
    });
    D().LoadScript(R"(CustomerProfilePopulate: click optFloorAndCeiling
CustomerProfilePopulate: type txtVariance 10
CustomerProfilePopulate: click PopulateButton
)");
    D().On("SelectDemographicDataDialog", [&](forms::Form& f) {
        auto& page = dynamic_cast<pxcp::SelectDemographicDataDialog&>(f);
        auto& m = page.Model();
        EXPECT_FALSE(m.isNumbers);
        EXPECT_TRUE(f.Ctl("PercentagesOption").Value());
        auto& birthsRec = *m.categoryRecords[0];
        EXPECT_NEAR(std::stod(pxcp::DemographicQuery::Get(birthsRec, "Floor", 0)), births * 0.9, 1e-6);
        EXPECT_NEAR(std::stod(pxcp::DemographicQuery::Get(birthsRec, "Ceiling", 0)), births * 1.1, 1e-6);
        EXPECT_EQ(pxcp::DemographicQuery::Get(birthsRec, "Floor", 1), "");  // twins: not in the data
        EXPECT_EQ(pxcp::DemographicQuery::Get(*m.categoryRecords[2], "Floor", 0), "0.5");  // not profiled: kept
        auto& health = *m.categoryRecords[2];
        EXPECT_NEAR(std::stod(pxcp::DemographicQuery::Get(health, "Ceiling", 1)), sids + 10, 1e-6);
        EXPECT_TRUE(f.Ctl("CategoryList").Selected(0));
        EXPECT_TRUE(f.Ctl("CategoryList").Selected(2));
        EXPECT_FALSE(f.Ctl("CategoryList").Selected(1));
        f.UserClick("NextButton");
    });
    D().LoadScript(R"(SelectAnalysisNameDialog: type AnalysisNameText Profiled
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)");
    EXPECT_EQ(Run(true), 1);
    EXPECT_TRUE(D().Problems().empty()) << D().Problems().front();
    // The 1070 sample customers that lie in North Carolina counties (as a
    // spatial join of zipcodes.shp and nc.shp counts them): on average
    // 6674.1 births in their county in 1974-78, of which 0.2 % sudden
    // infant deaths.
    EXPECT_EQ(births, 6674.1);
    EXPECT_EQ(sids, 0.2);
    auto a = h->session.dataManager->GetAnalysis("Profiled");
    ASSERT_TRUE(a);
    EXPECT_TRUE(fs::exists(a->Folder() + "ProfilingParams.cpf"));
    EXPECT_EQ(h->session.pageSettings->GetProperty("ProfilingFileFullPath").ToString(),
              a->Folder() + "ProfilingParams.cpf");
}

TEST_F(ProfileWizardTest, AProfileFileBringsTheRowsBackAndOutputsAreWritten) {
    std::string cpf = dir / "saved.cpf", dbf = dir / "profile.dbf", pdf = dir / "profile.pdf";
    std::vector<std::string> averages;
    D().LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: click ProfileButton
CustomerProfileDialog: click SelectAllButton
CustomerProfileDialog: click NewButton
CustomerProfileNew: click ProfileButton
CustomerProfileDialog: click FileButton
FileOptionDialog: select FileOptionList 1
FileOptionDialog: click OKButton
file )" + cpf + R"(
CustomerProfileDialog: click TableButton
file )" + dbf + R"(
CustomerProfileDialog: click PrintButton
print )" + pdf + R"( 2
)");
    D().On("CustomerProfileDialog", [&](forms::Form& f) {
        auto& d = dynamic_cast<pxcp::CustomerProfileDialog&>(f);
        for (long r = 2; r < d.Ctl("CharacteristicsGrid").Rows(); ++r) averages.push_back(Cell(d, r, 4));
        f.UserClick("CancelButton");
    });
    D().LoadScript("SelectDemographicDataDialog: click CancelButton\n");
    EXPECT_EQ(Run(false), -1);
    EXPECT_TRUE(D().Problems().empty()) << D().Problems().front();
    ASSERT_TRUE(fs::exists(cpf));
    ASSERT_TRUE(fs::exists(dbf));
    ASSERT_TRUE(fs::exists(pdf));
    auto table = pxcp::OpenDBF(dbf);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->RowCount(nullptr), 4);

    // A new dialog reads the saved profile back: same averages.
    auto d = Dialog();
    ASSERT_TRUE(d->LoadCPFFile(cpf));
    std::vector<std::string> again;
    for (long r = 2; r < d->Ctl("CharacteristicsGrid").Rows(); ++r) again.push_back(Cell(*d, r, 4));
    EXPECT_EQ(again, averages);
    EXPECT_FALSE(averages[0].empty());
    EXPECT_EQ(d->Ctl("header2").caption, pxcp::FindString(136) + customers->name);
}

// A profile file whose variance is no number opens with the rest of its
// state, each time the profile is asked for, and says so once.
TEST_F(ProfileWizardTest, AProfileFileWithAVarianceThatIsNoNumberStillOpens) {
    std::string cpf = dir / "hand-made.cpf";
    {
        auto d = Dialog();
        ASSERT_TRUE(d->UserClickCell("CharacteristicsGrid", 2, 3));
        d->SaveCPFFile(cpf);
    }
    std::stringstream text;
    text << std::ifstream(cpf).rdbuf();
    ASSERT_NE(text.str().find("name=\"Variance\" value=\"0\""), std::string::npos);
    std::ofstream(cpf) << ReplaceAll(text.str(), "name=\"Variance\" value=\"0\"", "name=\"Variance\" value=\"ten\"");
    h->session.pageSettings->SetProperty("ProfilingFileFullPath", cpf);

    int opened = 0;
    D().LoadScript("SelectGeographyLevelDialog: click NextButton\n");
    for (int i = 0; i < 2; ++i) {
        D().On("SelectDemographicDataDialog", [](forms::Form& f) { f.UserClick("ProfileButton"); });
        D().On("CustomerProfileDialog", [&](forms::Form& f) {
            auto& d = dynamic_cast<pxcp::CustomerProfileDialog&>(f);
            ++opened;
            EXPECT_EQ(d.m_pStateCol->Item("0").As<Collection>()->Item("2").ToLong(), 1);  // the file's tick
            EXPECT_EQ(d.SavedVariance(), 0);
            f.UserClick("CancelButton");
        });
    }
    D().LoadScript("SelectDemographicDataDialog: click CancelButton\n");
    size_t before = forms::MessageLog().size(), reports = ErrorHandler::Log().size();
    EXPECT_EQ(Run(false), -1);
    EXPECT_TRUE(D().Problems().empty()) << D().Problems().front();
    EXPECT_EQ(opened, 2);
    ASSERT_EQ(forms::MessageLog().size(), before + 1);
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(155));
    EXPECT_EQ(ErrorHandler::Log().size(), reports);
}

}  // namespace
