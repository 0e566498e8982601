// Fields by period, read as an analyst reads them.
#include <gtest/gtest.h>

#include "host/Object.h"
#include "host/framework/DatasetPeriods.h"

using namespace host;

namespace {

const PeriodFamily* Family(const std::vector<PeriodFamily>& families, const std::string& stem) {
    for (auto& f : families)
        if (f.stem == stem) return &f;
    return nullptr;
}

std::vector<std::string> Captions(const std::vector<Period>& periods) {
    std::vector<std::string> out;
    for (auto& p : periods) out.push_back(p.Caption());
    return out;
}

TEST(DatasetPeriods, SuffixesAreReadAsYearsSpansOrNothing) {
    auto families = FindPeriodFamilies(
        {"LPCGDP40", "LPCGDP50", "LPCGDP00", "PCGDP1940", "PCGDP1950", "PCGDP2000", "HR7984", "HR8488", "HR8893",
         "GR4000", "GR5000", "GR9000", "HANSON03", "HANSON98", "BIR74", "BIR79", "POP_10", "POP_20", "ONE90", "C7_5_10"},
        2026);
    // Two-digit years by the four-digit years beside them.
    ASSERT_TRUE(Family(families, "LPCGDP"));
    EXPECT_EQ(Captions(Family(families, "LPCGDP")->periods), (std::vector<std::string>{"1940", "1950", "2000"}));
    EXPECT_EQ(Family(families, "LPCGDP")->fields, (std::vector<std::string>{"LPCGDP40", "LPCGDP50", "LPCGDP00"}));
    EXPECT_EQ(Captions(Family(families, "PCGDP")->periods), (std::vector<std::string>{"1940", "1950", "2000"}));
    // Two years in one suffix are a span, captioned so.
    ASSERT_TRUE(Family(families, "HR"));
    EXPECT_EQ(Captions(Family(families, "HR")->periods),
              (std::vector<std::string>{"1979\xE2\x80\x93" "84", "1984\xE2\x80\x93" "88", "1988\xE2\x80\x93" "93"}));
    // Spans that overlap (growth 1940-2000, 1950-2000 ...) are no periods.
    EXPECT_FALSE(Family(families, "GR"));
    // Otherwise a two-digit series runs from its widest gap and ends as late as it can.
    ASSERT_TRUE(Family(families, "HANSON"));
    EXPECT_EQ(Captions(Family(families, "HANSON")->periods), (std::vector<std::string>{"1998", "2003"}));
    EXPECT_EQ(Family(families, "HANSON")->fields, (std::vector<std::string>{"HANSON98", "HANSON03"}));
    EXPECT_EQ(Captions(Family(families, "BIR")->periods), (std::vector<std::string>{"1974", "1979"}));
    EXPECT_EQ(Captions(Family(families, "POP")->periods), (std::vector<std::string>{"2010", "2020"}));
    // One field alone, or a name ending in a value class, is no family.
    EXPECT_FALSE(Family(families, "ONE"));
    EXPECT_FALSE(Family(families, "C7_5_"));
    EXPECT_EQ(Period({1998, 2003}).Caption(), "1998\xE2\x80\x93" "2003");
}

TEST(DatasetPeriods, FamiliesLineUpOverThePeriodsMostShare) {
    // The St Louis counties: counts and rates by span, covariates of their own years.
    auto stl = FindPeriodFamilies({"HR7984", "HR8488", "HR8893", "HC7984", "HC8488", "HC8893", "PE77", "PE82", "PE87",
                                   "RDAC80", "RDAC85", "RDAC90", "X1990", "X2000"},
                                  2026);
    auto periods = AlignPeriods(stl, {});
    EXPECT_EQ(Captions(periods.all)[0], "1979\xE2\x80\x93" "84");
    EXPECT_EQ(periods.kept, (std::vector<size_t>{0, 1, 2}));
    ASSERT_EQ(periods.aligned.size(), 4u);  // HR, HC, PE, RDAC
    EXPECT_FALSE(periods.aligned[0].byOrder);
    EXPECT_EQ(periods.aligned[2].fields, (std::vector<std::string>{"PE77", "PE82", "PE87"}));
    EXPECT_TRUE(periods.aligned[2].byOrder);
    EXPECT_TRUE(periods.aligned[3].byOrder);
    // Two years that fall in no span, and are not as many: fields of their own.
    EXPECT_EQ(periods.unaligned, (std::vector<std::string>{"X1990", "X2000"}));

    // Shared periods line up; the rest of a family stands alone.
    auto partly = AlignPeriods(FindPeriodFamilies({"A1990", "A2000", "B2000", "B2010"}, 2026), {});
    EXPECT_EQ(Captions(partly.all), (std::vector<std::string>{"2000", "2010"}));  // the later of two alike
    ASSERT_EQ(partly.aligned.size(), 2u);
    EXPECT_EQ(partly.aligned[0].fields, (std::vector<std::string>{"A2000", ""}));
    EXPECT_EQ(partly.unaligned, (std::vector<std::string>{"A1990"}));
}

TEST(DatasetPeriods, TheLatestThreeAreKeptUnlessOthersAreChosen) {
    std::vector<std::string> names;
    for (int y = 1940; y <= 2000; y += 10) {
        names.push_back("PCGDP" + std::to_string(y));
        names.push_back("LPCGDP" + std::to_string(y).substr(2));
    }
    auto families = FindPeriodFamilies(names, 2026);
    auto latest = AlignPeriods(families, {});
    ASSERT_EQ(latest.all.size(), 7u);
    EXPECT_EQ(latest.kept, (std::vector<size_t>{4, 5, 6}));
    EXPECT_FALSE(latest.Kept(0));
    // By year, by a suffix as written, in any order.
    EXPECT_EQ(AlignPeriods(families, {"2000", "40", " 1970 "}).kept, (std::vector<size_t>{0, 3, 6}));
    try {
        AlignPeriods(families, {"1930"});
        ADD_FAILURE() << "1930 accepted";
    } catch (const RuntimeError& e) {
        EXPECT_STREQ(e.what(), "has no period 1930 (given with --years); its periods are: 1940, 1950, 1960, 1970, 1980, 1990, 2000");
    }
    // Spans by their caption, with a hyphen or a dash, or as written.
    auto spans = FindPeriodFamilies({"HR7984", "HR8488", "HR8893"}, 2026);
    EXPECT_EQ(AlignPeriods(spans, {"1979-84", "1984\xE2\x80\x93" "88"}).kept, (std::vector<size_t>{0, 1}));
    EXPECT_EQ(AlignPeriods(spans, {"8893"}).kept, (std::vector<size_t>{2}));
}

}  // namespace
