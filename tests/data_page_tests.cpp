// The demographic data page driven as the analyst would.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "host/framework/ErrorHandler.h"
#include "i18n/modi18N.h"
#include "pages/DemographicQueryFile.h"
#include "pages/SelectDemographicDataDialog.h"

using namespace host;
using pxcp::DemographicQuery;
using pxcp::SelectDemographicDataDialog;

namespace {

TaskEntryPtr Entry(int targetsInFirst, const std::string& level = "County") {
    auto task = std::make_shared<TaskEntry>();
    task->levelName = level;
    task->years->Add("1990");
    task->years->Add("2000");
    for (int c = 0; c < 3; ++c) {
        auto cat = std::make_shared<CategoryDef>();
        cat->id = "Cat" + std::to_string(c);
        cat->caption = "Category " + std::to_string(c);
        int n = c == 0 ? targetsInFirst : 1;
        for (int j = 0; j < n; ++j) {
            auto t = std::make_shared<TargetDef>();
            t->name = "T" + std::to_string(c) + std::to_string(j);
            t->properties["CanPercent"] = j % 2 == 0 ? "True" : "False";
            t->numberFields["1"] = "N" + std::to_string(c) + std::to_string(j);
            t->numberFields["2"] = "M" + std::to_string(c) + std::to_string(j);
            t->percentFields["1"] = "BASE";
            t->percentFields["2"] = "BASE2";
            cat->targets.push_back(t);
        }
        task->categories.push_back(cat);
    }
    return task;
}

struct DataPageTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        driver = std::make_shared<forms::ScriptedDriver>();
        forms::SetDriver(driver);
        forms::MessageLog().clear();
        dm = std::make_shared<DataManager>(std::vector<DatasetPtr>{}, dir / "analyses");
        dataset = std::make_shared<Dataset>();
        dataset->name = "NC";
    }
    std::shared_ptr<SelectDemographicDataDialog> Page(TaskEntryPtr task, PropertySetPtr ps = nullptr) {
        auto p = std::make_shared<SelectDemographicDataDialog>();
        p->mainTask = task;
        p->businessDataset = dataset;
        p->dataManager = dm;
        p->ReadFromPropertySet(ps);
        p->InitializeDialog();
        return p;
    }
    void Show(SelectDemographicDataDialog& p, std::function<void(forms::Form&)> f) {
        driver->On("SelectDemographicDataDialog", std::move(f));
        p.ResetParams();
        p.ShowModal();
    }
    pxtest::ScratchDir dir;
    std::shared_ptr<forms::ScriptedDriver> driver;
    DataManagerPtr dm;
    DatasetPtr dataset;
};

TEST_F(DataPageTest, RowsFollowTheTargetCountAndYearsTheCatalogue) {
    auto p = Page(Entry(8));
    Show(*p, [](forms::Form& f) {
        for (int i = 0; i < 8; ++i) EXPECT_TRUE(f.Ctl("FloorText", i).visible) << i;
        EXPECT_EQ(f.Ctl("TargetLabel", 0).caption, "# T00");
        EXPECT_TRUE(f.Ctl("YearOption", 1).visible);
        EXPECT_EQ(f.Ctl("YearOption", 1).caption, "2000");
        EXPECT_FALSE(f.Ctl("YearOption", 2).visible);
        EXPECT_EQ(f.Ctl("DemographicLevelLabel").caption, pxcp::FindString(187) + pxcp::FindString(188));
        f.UserSelectItem("CategoryList", 1, true);
        EXPECT_TRUE(f.Ctl("FloorText", 0).visible);
        EXPECT_FALSE(f.Ctl("FloorText", 1).visible);
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(p->result, -1);
}

TEST_F(DataPageTest, OtherLevelsNameThemselvesInTheCaption) {
    auto p = Page(Entry(1, "Tracts"));
    EXPECT_EQ(p->Ctl("DemographicLevelLabel").caption, pxcp::FindString(187) + "Tracts" + pxcp::FindString(189));
}

TEST_F(DataPageTest, PercentLabelsChangeForTheCurrentCategoryOnly) {
    auto p = Page(Entry(2));
    Show(*p, [](forms::Form& f) {
        f.UserClick("PercentagesOption");
        EXPECT_EQ(f.Ctl("TargetLabel", 0).caption, "% T00");
        EXPECT_EQ(f.Ctl("TargetLabel", 1).caption, "# T01");  // cannot be a percentage
        f.UserClick("NumbersOption");
        EXPECT_EQ(f.Ctl("TargetLabel", 0).caption, "# T00");
        f.UserClick("CancelButton");
    });
}

TEST_F(DataPageTest, ValuesTypedInAnUnselectedCategoryCountInTheClauseOnly) {
    auto p = Page(Entry(2));
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 2, true);
        f.UserType("CeilingText", 0, "30");
        f.UserSelectItem("CategoryList", 2, false);  // values stay, selection goes
        f.UserSelectItem("CategoryList", 0, true);
        f.UserType("FloorText", 1, "7");
        f.UserClick("YearOption", 1);
        f.UserClick("AnyCharacteristicsOption");
        f.UserClick("NextButton");
    });
    EXPECT_EQ(p->result, 1);
    EXPECT_EQ(p->whereClause, " (M01>=7.00) OR  (M20<=30.00)");
    EXPECT_EQ(p->fieldList, "M01,M20");
    std::string summary = p->ShowQuery();
    EXPECT_EQ(summary.find("Cat2"), std::string::npos);
    EXPECT_NE(summary.find("You will be searching 2000"), std::string::npos);
}

TEST_F(DataPageTest, CeilingBelowFloorIsFlippedOnYes) {
    auto p = Page(Entry(1));
    Show(*p, [this](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserType("FloorText", 0, "50");
        f.UserType("CeilingText", 0, "10");
        driver->Answer(forms::vbYes);
        f.UserClick("NextButton");
    });
    EXPECT_EQ(p->result, 1);
    EXPECT_EQ(p->whereClause, " (N00>=10.00 AND N00<=50.00) ");
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_EQ(forms::MessageLog()[0].title, "Information");
}

TEST_F(DataPageTest, PercentChecksRunOnlyForPercentages) {
    auto p = Page(Entry(1));
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserType("FloorText", 0, "150");  // T00 may be a percentage; here it is a count
        f.UserClick("NextButton");
    });
    EXPECT_EQ(p->result, 1);
    EXPECT_TRUE(forms::MessageLog().empty());
    EXPECT_EQ(p->whereClause, " (N00>=150.00) ");
}

TEST_F(DataPageTest, FailuresOfTheChecksAndTheClauseAreReportedUnderTheirOwnNames) {
    // Values as a hand-edited query file can bring them: the boxes would
    // never let "abc" through.
    auto next = [this](TaskEntryPtr task, long category, const std::string& floor, const std::string& ceiling,
                       std::function<void(forms::Form&)> before) {
        ErrorHandler::Log().clear();
        auto p = Page(task);
        DemographicQuery::SetFloor(*p->Model().categoryRecords[category], 0, floor);
        DemographicQuery::SetCeiling(*p->Model().categoryRecords[category], 0, ceiling);
        Show(*p, [&](forms::Form& f) {
            before(f);
            f.UserSelectItem("CategoryList", category, true);
            f.UserClick("NextButton");
            EXPECT_TRUE(f.IsVisible());
            f.UserClick("CancelButton");
        });
        EXPECT_EQ(p->result, -1);
        EXPECT_EQ(p->whereClause, "");
        std::vector<std::string> locations;
        for (auto& r : ErrorHandler::Log()) locations.push_back(r.location);
        return locations;
    };
    auto nothing = [](forms::Form&) {};
    EXPECT_EQ(next(Entry(1), 1, "abc", "5", nothing), std::vector<std::string>{"CheckFloorAndCeilingValues "});
    EXPECT_EQ(next(Entry(1), 1, "abc", "", [](forms::Form& f) { f.UserClick("PercentagesOption"); }),
              std::vector<std::string>{"CheckPercents "});
    // The second year has no field for this target.
    auto task = Entry(1);
    task->Category(2)->Target(0)->numberFields.erase("2");
    EXPECT_EQ(next(task, 2, "3", "", [](forms::Form& f) { f.UserClick("YearOption", 1); }),
              std::vector<std::string>{"MakeQueryString "});
}

TEST_F(DataPageTest, NegativeValuesAreRefusedAndSelectNoneClearsEverything) {
    auto p = Page(Entry(2));
    Show(*p, [](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserType("FloorText", 0, "-3");
        EXPECT_FALSE(f.UserFocus("CeilingText", 0));  // Validate keeps the focus
        EXPECT_EQ(f.Ctl("FloorText", 0).Text(), "");
        f.UserType("FloorText", 0, "4");
        f.UserType("CeilingText", 1, "9");
        f.UserClick("SelectNoneButton");
        EXPECT_EQ(f.Ctl("CategoryList").SelCount(), 0);
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(195) + "\r\n" + pxcp::FindString(194));
    for (auto& rec : p->Model().categoryRecords) EXPECT_TRUE(DemographicQuery::IsCategoryEmpty(*rec));
}

TEST_F(DataPageTest, ChoicesTravelThroughTheQueryFileOfThePageSettings) {
    auto ps = std::make_shared<PropertySet>();
    {
        auto p = Page(Entry(2), ps);
        Show(*p, [](forms::Form& f) {
            f.UserSelectItem("CategoryList", 1, true);
            f.UserType("FloorText", 0, "12");
            f.UserClick("PercentagesOption");
            f.UserClick("NextButton");
        });
        p->WriteToPropertySet(ps);
    }
    std::string path = ps->GetProperty("DMQFileFullPath").ToString();
    EXPECT_EQ(path, dm->WorkingPath() + ".dmq");
    EXPECT_TRUE(std::filesystem::exists(path));
    auto again = Page(Entry(2), ps);
    Show(*again, [](forms::Form& f) {
        // The first category with values is selected and shown.
        EXPECT_TRUE(f.Ctl("CategoryList").Selected(1));
        EXPECT_EQ(f.Ctl("FloorText", 0).Text(), "12");
        EXPECT_TRUE(f.Ctl("PercentagesOption").Value());
        EXPECT_EQ(f.Ctl("TargetLabel", 0).caption, "% T10");
        f.UserClick("NextButton");
    });
    EXPECT_EQ(again->whereClause, " (N10>=(12.00/100)*BASE) ");
}

TEST_F(DataPageTest, ALoadedQuerySelectsItsFirstFilledCategoryOnly) {
    auto ps = std::make_shared<PropertySet>();
    auto before = Page(Entry(1), ps);
    DemographicQuery::SetFloor(*before->Model().categoryRecords[1], 0, "4");
    DemographicQuery::SetCeiling(*before->Model().categoryRecords[2], 0, "9");
    before->WriteToPropertySet(ps);
    auto p = Page(Entry(1), ps);
    Show(*p, [](forms::Form& f) {
        auto& list = f.Ctl("CategoryList");
        EXPECT_EQ(list.SelCount(), 1);
        EXPECT_TRUE(list.Selected(1));
        EXPECT_EQ(list.ListIndex(), 1);
        EXPECT_EQ(f.Ctl("FloorText", 0).Text(), "4");
        f.UserClick("NextButton");
    });
    // The clause still takes every category that has values.
    EXPECT_EQ(p->whereClause, " (N10>=4.00) AND  (N20<=9.00) ");
}

TEST_F(DataPageTest, FileButtonSavesAndOpensQueries) {
    auto p = Page(Entry(1));
    std::string file = dir / "mine.dmq";
    Show(*p, [&](forms::Form& f) {
        f.UserSelectItem("CategoryList", 0, true);
        f.UserType("FloorText", 0, "3");
        driver->On("FileOptionDialog", [](forms::Form& o) {
            o.UserSelectItem("FileOptionList", 1);
            o.UserClick("OKButton");
        });
        driver->ChooseFile(file);
        f.UserClick("FileButton");
        f.UserClick("SelectNoneButton");
        driver->On("FileOptionDialog", [](forms::Form& o) { o.UserClick("OKButton"); });
        driver->ChooseFile(file);
        f.UserClick("FileButton");
        EXPECT_EQ(f.Ctl("FloorText", 0).Text(), "3");
        f.UserClick("CancelButton");
    });
    EXPECT_TRUE(driver->Problems().empty());
    // A query made for another study area is refused.
    dataset->name = "Ohio";
    auto other = Page(Entry(1));
    other->LoadDMQFile(file);
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(200));
    EXPECT_TRUE(DemographicQuery::IsCategoryEmpty(*other->Model().categoryRecords[0]));
}

}  // namespace
