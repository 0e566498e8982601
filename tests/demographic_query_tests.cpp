// Where-clause, checks and summary of the demographic selection model.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "host/forms/Forms.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"
#include "pages/DemographicQuery.h"

using namespace host;
using pxcp::DemographicQuery;

namespace {

TaskEntryPtr Catalogue() {
    auto task = std::make_shared<TaskEntry>();
    auto add = [](CategoryDefPtr c, const std::string& name, const std::string& canPercent, const std::string& number,
                  const std::string& base) {
        auto t = std::make_shared<TargetDef>();
        t->name = name;
        t->properties["CanPercent"] = canPercent;
        t->numberFields["1"] = number;
        t->percentFields["1"] = base;
        c->targets.push_back(t);
    };
    auto age = std::make_shared<CategoryDef>();
    age->id = "Age";
    add(age, "Age 25 to 34", "True", "F_AGE2534", "F_TOTPOP");
    auto income = std::make_shared<CategoryDef>();
    income->id = "Income";
    add(income, "Income over 50K", "False", "F_INC50K", "F_TOTHH");
    add(income, "Households", "True", "F_POP", "F_TOTHH");
    task->categories = {age, income};
    return task;
}

struct QueryTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        q.Build(Catalogue());
    }
    host::Collection& Rec(int i) { return *q.categoryRecords[i]; }
    DemographicQuery q;
};

TEST_F(QueryTest, RecordsKeepTheirItemOrder) {
    EXPECT_EQ(Rec(1).Count(), 9);
    DemographicQuery::SetFloor(Rec(1), 0, "5");
    DemographicQuery::SetCeiling(Rec(1), 0, "7");
    std::vector<std::string> keys;
    for (long i = 1; i <= Rec(1).Count(); ++i) keys.push_back(Rec(1).KeyAt(i));
    EXPECT_EQ(keys, (std::vector<std::string>{"Category ID", "Target0", "CanPercent0", "Floor0", "Ceiling0", "Target1",
                                              "CanPercent1", "Floor1", "Ceiling1"}));
}

TEST_F(QueryTest, WorkedExamplesWithAllAndAny) {
    DemographicQuery::SetFloor(Rec(0), 0, "100");
    DemographicQuery::SetCeiling(Rec(0), 0, "2500");
    DemographicQuery::SetCeiling(Rec(1), 0, "300");
    EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=100.00 AND F_AGE2534<=2500.00) AND  (F_INC50K<=300.00) ");
    EXPECT_EQ(q.fieldList, "F_AGE2534,F_INC50K");
    q.isAllCharacteristics = false;
    EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=100.00 AND F_AGE2534<=2500.00) OR  (F_INC50K<=300.00)");
}

TEST_F(QueryTest, PercentagesUseTheBaseFieldOnlyWhereAllowed) {
    q.isNumbers = false;
    DemographicQuery::SetFloor(Rec(0), 0, "10");
    EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=(10.00/100)*F_TOTPOP) ");
    DemographicQuery::SetFloor(Rec(1), 0, "0");
    EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=(10.00/100)*F_TOTPOP) AND  (F_INC50K>=0.00) ");
    EXPECT_EQ(q.fieldCollection->Count(), 2);
    // Only the exact text "True" makes a percentage.
    for (const char* other : {"true", "TRUE", "1", "-1"}) {
        auto task = Catalogue();
        task->Category(0)->Target(0)->properties["CanPercent"] = other;
        q.Build(task);
        DemographicQuery::SetFloor(Rec(0), 0, "10");
        EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=10.00) ") << other;
    }
}

TEST_F(QueryTest, NothingSetGivesAnEmptyClause) {
    EXPECT_EQ(q.MakeQueryString(), "");
    EXPECT_EQ(q.fieldList, "");
    std::string s = q.ShowQuery({true, true}, "1990", "Counties");
    EXPECT_NE(s.find("no categories have been targeted"), std::string::npos);
    EXPECT_EQ(s.rfind("You will be searching 1990", 0), 0u);
}

TEST_F(QueryTest, DecimalCommaBecomesAPointAndContainedNamesAreNotRepeated) {
    auto saved = platform::CurrentLocale();
    platform::SetCurrentLocale({1031, ',', '.'});
    DemographicQuery::SetFloor(Rec(0), 0, "12,5");
    // F_POP is contained in no earlier name here, but F_INC50K after it is.
    DemographicQuery::SetFloor(Rec(1), 1, "1");
    std::string c = q.MakeQueryString();
    platform::SetCurrentLocale(saved);
    EXPECT_EQ(c, " (F_AGE2534>=12.50) AND  (F_POP>=1.00) ");
    EXPECT_EQ(q.fieldList, "F_AGE2534,F_POP");
    auto cat = std::make_shared<CategoryDef>();
    (void)cat;
}

TEST_F(QueryTest, FieldContainedInAnEarlierNameIsListedOnce) {
    auto task = Catalogue();
    task->Category(0)->Target(0)->numberFields["1"] = "F_POPTOT";
    q.Build(task);
    DemographicQuery::SetFloor(Rec(0), 0, "1");
    DemographicQuery::SetFloor(Rec(1), 1, "2");
    q.MakeQueryString();
    EXPECT_EQ(q.fieldList, "F_POPTOT");
    EXPECT_EQ(q.fieldCollection->Count(), 2);
}

TEST_F(QueryTest, ChecksFlipOrStopAndAcceptEquality) {
    DemographicQuery::SetFloor(Rec(1), 0, "50");
    DemographicQuery::SetCeiling(Rec(1), 0, "50");
    auto never = [](long, long, const std::string&) -> int { ADD_FAILURE(); return forms::vbNo; };
    auto noFocus = [](long, long, bool) {};
    EXPECT_TRUE(q.CheckFloorAndCeilingValues(never, noFocus));
    DemographicQuery::SetCeiling(Rec(1), 0, "20");
    std::string asked;
    EXPECT_TRUE(q.CheckFloorAndCeilingValues([&](long i, long j, const std::string& text) {
        EXPECT_EQ(i, 1);
        EXPECT_EQ(j, 0);
        asked = text;
        return forms::vbYes;
    }, noFocus));
    EXPECT_EQ(asked, "You have specified a Ceiling value less then\r\nthe Floor value for target:\r\n\"Income\"/\"Income over 50K\"\r\nDo you want to flip those values ?");
    EXPECT_EQ(DemographicQuery::Get(Rec(1), "Floor", 0), "20");
    EXPECT_EQ(DemographicQuery::Get(Rec(1), "Ceiling", 0), "50");
    DemographicQuery::SetFloor(Rec(0), 0, "101");
    DemographicQuery::SetCeiling(Rec(0), 0, "100");
    bool focused = false;
    q.isNumbers = false;
    EXPECT_FALSE(q.CheckPercents([](long, long, const std::string&) { return forms::vbNo; },
                                 [&](long i, long j, bool ceiling) { focused = i == 0 && j == 0 && !ceiling; }));
    EXPECT_TRUE(focused);
    EXPECT_TRUE(q.CheckPercents([](long, long, const std::string&) { return forms::vbYes; }, noFocus));
    EXPECT_EQ(DemographicQuery::Get(Rec(0), "Floor", 0), "100");
    // Exactly 100 passes, as floor and as ceiling, without a question.
    EXPECT_TRUE(q.CheckPercents(never, noFocus));
}

TEST_F(QueryTest, PercentChecksAskAboutTheFloorBeforeTheCeiling) {
    q.isNumbers = false;
    DemographicQuery::SetFloor(Rec(1), 1, "150");
    DemographicQuery::SetCeiling(Rec(1), 1, "200");
    // A target that cannot be a percentage is never asked about.
    DemographicQuery::SetFloor(Rec(1), 0, "500");
    std::vector<std::string> asked;
    auto answer = [&](int a) {
        return [&asked, a](long i, long j, const std::string& text) {
            EXPECT_EQ(i, 1);
            EXPECT_EQ(j, 1);
            asked.push_back(text);
            return a;
        };
    };
    std::vector<bool> focused;
    auto focus = [&](long, long, bool ceiling) { focused.push_back(ceiling); };
    EXPECT_FALSE(q.CheckPercents(answer(forms::vbNo), focus));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "You have specified a Floor percentage value \r\ngreater than 100 for target:\r\n"
                        "\"Income\"/\"Households\"\r\nDo you want to set this value to 100% ?");
    EXPECT_EQ(focused, std::vector<bool>{false});
    EXPECT_EQ(DemographicQuery::Get(Rec(1), "Floor", 1), "150");  // No leaves the value
    asked.clear();
    EXPECT_TRUE(q.CheckPercents(answer(forms::vbYes), focus));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].rfind("You have specified a Floor percentage value ", 0), 0u);
    EXPECT_EQ(asked[1].rfind("You have specified a Ceiling percentage value ", 0), 0u);
    EXPECT_EQ(DemographicQuery::Get(Rec(1), "Floor", 1), "100");
    EXPECT_EQ(DemographicQuery::Get(Rec(1), "Ceiling", 1), "100");
    EXPECT_EQ(DemographicQuery::Get(Rec(1), "Floor", 0), "500");
}

TEST_F(QueryTest, SummaryListsSelectedCategoriesWithTheirTargets) {
    q.isNumbers = false;
    DemographicQuery::SetFloor(Rec(0), 0, "10");
    DemographicQuery::SetFloor(Rec(1), 0, "100");
    DemographicQuery::SetCeiling(Rec(1), 1, "30");
    std::string s = q.ShowQuery({true, true}, "1990", "Counties");
    EXPECT_NE(s.find("\r\nAge is\r\n\tAge 25 to 34, greater than or equal to 10%"), std::string::npos);
    EXPECT_NE(s.find("\r\nand Income is\r\n\tIncome over 50K, greater than or equal to 100\r\n\tand Households, less than or equal to 30%"),
              std::string::npos);
    // Any characteristics join categories and targets with "or ".
    q.isAllCharacteristics = false;
    std::string any = q.ShowQuery({true, true}, "1990", "Counties");
    EXPECT_NE(any.find("\r\nor Income is\r\n\tIncome over 50K, greater than or equal to 100\r\n\tor Households, less than or equal to 30%"),
              std::string::npos);
    EXPECT_EQ(any.find("and "), std::string::npos);
    q.isAllCharacteristics = true;
    // Not selected: left out of the summary, still in the clause.
    std::string only = q.ShowQuery({false, true}, "1990", "Counties");
    EXPECT_EQ(only.find("Age is"), std::string::npos);
    EXPECT_NE(q.MakeQueryString().find("F_AGE2534"), std::string::npos);
}

TEST_F(QueryTest, BadValuesAndMissingFieldsRaise) {
    DemographicQuery::SetFloor(Rec(0), 0, "ten");
    EXPECT_THROW(q.MakeQueryString(), RuntimeError);
    DemographicQuery::SetFloor(Rec(0), 0, "1");
    q.yearNumber = 2;
    EXPECT_THROW(q.MakeQueryString(), RuntimeError);
}

}  // namespace
