// The report's wording: the summary sentence, numbers as the user's locale
// writes them, and the paper of the user's territory.
#include <gtest/gtest.h>

#include "host/framework/ReportContent.h"
#include "host/framework/ReportDocuments.h"
#include "host/platform/Locale.h"

using namespace host::report;
using host::platform::UserLocale;

namespace {

struct LocaleScope {
    explicit LocaleScope(const UserLocale& l) : saved(host::platform::CurrentLocale()) {
        host::platform::SetCurrentLocale(l);
    }
    ~LocaleScope() { host::platform::SetCurrentLocale(saved); }
    UserLocale saved;
};

ReportContent Sample() {
    ReportContent c;
    c.name = "Naïve <test> & co";
    c.level = "Counties";
    c.areasFound = 18;
    c.areasTotal = 100;
    c.totals = {{"BIR74", "Live births", 40533, 329962.0}, {"SID74", "Sudden infant deaths", 180, std::nullopt}};
    c.areas.columns = {"FIPS", "Name", "Live births"};
    c.areas.numeric = {false, false, true};
    c.areas.rows = {{"37155", "Robeson", "7,889"}};
    return c;
}

}  // namespace

TEST(ReportContentTest, TheSummaryNamesTheSharesItKnowsInTheLocalesNumbers) {
    LocaleScope us({1033, '.', ','});
    ReportContent c = Sample();
    EXPECT_EQ(c.SummarySentence(), "18 of 100 counties, holding 12.3 % of live births");
    c.totals[1].whole = 667;
    EXPECT_EQ(c.SummarySentence(), "18 of 100 counties, holding 12.3 % of live births and 27.0 % of sudden infant deaths");
    EXPECT_EQ(c.TotalsTable().rows[0], (std::vector<std::string>{"Live births", "40,533", "329,962", "12.3 %"}));
    c.areasTotal.reset();
    c.totals.clear();
    c.level = "ZIP codes";
    EXPECT_EQ(c.SummarySentence(), "18 ZIP codes");

    LocaleScope de({1031, ',', '.'});
    EXPECT_EQ(FormatReportNumber(1234567.5), "1.234.567,5");
    EXPECT_EQ(FormatReportNumber(-0.004), "0");
    EXPECT_EQ(FormatReportNumber(999), "999");
    EXPECT_EQ(FormatReportPercent(22.44), "22,4 %");
}

TEST(ReportContentTest, LetterInTheAmericasThatUseItA4Elsewhere) {
    EXPECT_EQ(PaperSizeOfLocale("en_US.UTF-8").name, "Letter");
    EXPECT_EQ(PaperSizeOfLocale("fr_CA").name, "Letter");
    EXPECT_EQ(PaperSizeOfLocale("es_MX.utf8").name, "Letter");
    EXPECT_EQ(PaperSizeOfLocale("en_GB.UTF-8").name, "A4");
    EXPECT_EQ(PaperSizeOfLocale("es_ES").name, "A4");
    EXPECT_EQ(PaperSizeOfLocale("C.UTF-8").name, "A4");
    EXPECT_DOUBLE_EQ(PaperSizeOfLocale("en_US").heightPoints, 792);
}

TEST(ReportContentTest, TheHtmlEscapesTextAndFetchesNothing) {
    std::string html = ReportHtml(Sample(), PaperSizeOfLocale("en_US"));
    EXPECT_NE(html.find("Report of Naïve &lt;test&gt; &amp; co"), std::string::npos);
    EXPECT_EQ(html.find("<test>"), std::string::npos);
    EXPECT_NE(html.find("size: letter"), std::string::npos);
    EXPECT_EQ(html.find("http"), std::string::npos);
    EXPECT_NE(html.find("<td class=\"n\">7,889</td>"), std::string::npos);
}
