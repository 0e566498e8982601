// Numbers under a C library locale with a decimal comma, as the desktop's
// toolkit sets it from LANG=de_DE.UTF-8: what the analyst types is read in
// the analyst's locale, and every number of a clause, file or table keeps
// "." as its decimal point.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "CustomerProfile/CustomerProfileFile.h"
#include "CustomerProfile/ProfileOutputs.h"
#include "PXCP/PXAnalysisUtils.h"
#include "TestSupport.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/PropertySet.h"
#include "host/gis/Gis.h"
#include "host/platform/Locale.h"
#include "pages/DemographicQueryFile.h"

using namespace host;

namespace {

class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::CurrentLocale();
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "the locale de_DE.UTF-8 is not generated";
        // The C library itself now writes decimal commas.
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        ASSERT_STREQ(buf, "1,5");
        RegisterHostClasses();
        forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
        forms::MessageLog().clear();
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        platform::SetCurrentLocale(saved_);
    }
    static void German() { platform::SetCurrentLocale({1031, ',', '.'}); }
    static void English() { platform::SetCurrentLocale({1033, '.', ','}); }

private:
    platform::UserLocale saved_;
};

TEST_F(CommaLocale, CNumbersAndTypedNumbers) {
    EXPECT_EQ(platform::ParseCNumber("12.5"), 12.5);
    EXPECT_EQ(platform::ParseCNumber(" -0.25e2 "), -25);
    EXPECT_EQ(platform::ParseCNumber("+3"), 3);
    for (const char* bad : {"12,5", "", " ", "1.2.3", "12.5x", "inf", "nan", "+-1", "0x10"})
        EXPECT_FALSE(platform::ParseCNumber(bad)) << bad;
    EXPECT_EQ(platform::FormatCNumber(12.5), "12.5");
    EXPECT_EQ(platform::FormatCNumber(0.1), "0.1");
    EXPECT_EQ(platform::FormatCNumber(-0.0), "0");
    EXPECT_EQ(platform::FormatCNumber(100000000000.0), "100000000000");  // a key keeps its digits
    EXPECT_EQ(platform::ParseCNumber(platform::FormatCNumber(2.0 / 3)), 2.0 / 3);
    EXPECT_EQ(platform::FormatCFixed(12.5, 2), "12.50");
    EXPECT_EQ(platform::FormatCFixed(-0.001, 2), "0.00");

    English();
    EXPECT_EQ(platform::ParseLocaleNumber("12.5"), 12.5);
    EXPECT_EQ(platform::ParseLocaleNumber("1,250.5"), 1250.5);
    EXPECT_EQ(platform::FormatNumber(12.5), "12.5");
    German();
    EXPECT_EQ(platform::ParseLocaleNumber("12,5"), 12.5);
    EXPECT_EQ(platform::ParseLocaleNumber("12.5"), 12.5);  // cannot be grouped: a decimal point
    EXPECT_EQ(platform::ParseLocaleNumber("1.250,5"), 1250.5);
    EXPECT_EQ(platform::FormatFixed(12.5, 2), "12,50");
    EXPECT_EQ(platform::FormatNumber(0.656), "0,656");
    // A file's number is a C number; one written by an earlier version in
    // the user's locale still reads.
    EXPECT_EQ(platform::ParseStoredNumber("0.656"), 0.656);
    EXPECT_EQ(platform::ParseStoredNumber("0,656"), 0.656);
}

TaskEntryPtr Catalogue() {
    auto task = std::make_shared<TaskEntry>();
    auto c = std::make_shared<CategoryDef>();
    c->id = "Age";
    auto t = std::make_shared<TargetDef>();
    t->name = "Age 25 to 34";
    t->properties["CanPercent"] = "True";
    t->numberFields["1"] = "F_AGE2534";
    t->percentFields["1"] = "F_TOTPOP";
    c->targets.push_back(t);
    task->categories.push_back(c);
    return task;
}

TEST_F(CommaLocale, WhereClausesAndQueryFilesKeepTheirPoints) {
    pxtest::ScratchDir dir;
    for (bool german : {true, false}) {
        german ? German() : English();
        pxcp::DemographicQuery q;
        q.Build(Catalogue());
        pxcp::DemographicQuery::SetFloor(*q.categoryRecords[0], 0, german ? "12,5" : "12.5");
        pxcp::DemographicQuery::SetCeiling(*q.categoryRecords[0], 0, "20");
        EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=12.50 AND F_AGE2534<=20.00) ") << german;
        q.isNumbers = false;
        EXPECT_EQ(q.MakeQueryString(), " (F_AGE2534>=(12.50/100)*F_TOTPOP AND F_AGE2534<=(20.00/100)*F_TOTPOP) ");
        // The file keeps the typed text and gives the same clause back.
        std::string path = dir / (german ? "de.dmq" : "en.dmq");
        pxcp::SaveDMQFile(q, path, "North Carolina");
        pxcp::DemographicQuery back;
        back.Build(Catalogue());
        ASSERT_EQ(pxcp::LoadDMQFile(back, path, "North Carolina"), pxcp::DmqLoad::Loaded);
        EXPECT_EQ(back.MakeQueryString(), q.MakeQueryString());
    }
    EXPECT_TRUE(forms::MessageLog().empty());
}

TEST_F(CommaLocale, AProfileFileKeepsItsAveragesWithAPoint) {
    German();
    pxtest::ScratchDir dir;
    pxcp::CustomerProfileState state;
    auto row = std::make_shared<Collection>();
    for (const char* key : {"First", "Cat.caption", "Target.caption", "0", "1", "2", "3", "Chance"}) row->Add(std::string("1"), key);
    row->Add(6674.1, "Value");
    state.rows->Add(row, "0");
    std::string path = dir / "p.cpf";
    pxcp::SaveCPFFile(state, path, "ByLayer");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_NE(text.str().find("name=\"Value\" value=\"6674.1\""), std::string::npos) << text.str();
}

TEST_F(CommaLocale, PageSettingsKeepTheirNumbers) {
    German();
    PropertySet settings;
    settings.SetProperty("FormLeft", 1234.5);
    settings.SetProperty("Variance", 10.0);
    std::string xml = settings.ToXml();
    EXPECT_NE(xml.find("value=\"1234.5\""), std::string::npos) << xml;
    PropertySet back;
    back.FromXml(xml);
    EXPECT_EQ(back.GetProperty("FormLeft").ToDouble(), 1234.5);
    EXPECT_EQ(back.GetProperty("Variance").ToDouble(), 10.0);
}

TEST_F(CommaLocale, TablesHoldNumbersThatOtherProgramsRead) {
    German();
    pxtest::ScratchDir dir;
    // A profile table, from values kept as a profile file keeps them.
    auto rows = std::make_shared<Collection>();
    for (const char* v : {"12.5", "3.3", "0,75"}) {
        auto r = std::make_shared<Collection>();
        r->Add("True", "First");
        r->Add("Births", "Cat.caption");
        r->Add(std::string("Births ") + v, "Target.caption");
        r->Add(std::string(v), "Value");
        r->Add("", "Chance");
        rows->Add(r, std::to_string(rows->Count()));
    }
    ASSERT_TRUE(pxcp::WriteProfileTable(*rows, dir / "profile"));
    std::ifstream in(dir / "profile.dbf", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    // The dBASE numbers have "." as their decimal point (one decimal).
    EXPECT_NE(bytes.str().find("12.5"), std::string::npos);
    EXPECT_EQ(bytes.str().find("12,5"), std::string::npos);
    auto t = gis::Workspace::OpenFolder(dir.Path().string())->OpenTable("profile");
    std::vector<double> values;
    for (auto c = t->Search(nullptr, false); auto r = c->NextRow();) values.push_back(r->Value(4).ToDouble());
    EXPECT_EQ(values, (std::vector<double>{12.5, 3.3, 0.8}));  // AVGVAL has one decimal
    gis::QueryFilter f;
    f.whereClause = "AVGVAL >= 3.30 AND AVGVAL <= 12.50";
    EXPECT_EQ(t->RowCount(&f), 2);

    // A number written into a text field, as the report table and the
    // household output's key do, is a C number.
    gis::Fields fields;
    fields.AddField(gis::NewField("FID", gis::kFieldOID, "FID"));
    fields.AddField(gis::NewField("Key", gis::kFieldString, "KEY", 20));
    auto text = pxcp::CreateDBF(dir / "keys", fields);
    ASSERT_TRUE(text);
    auto cursor = text->Insert(true);
    auto buffer = cursor->CreateBuffer();
    buffer->SetValue(1, 12.5);
    cursor->Insert(*buffer);
    buffer->SetValue(1, 370010001001.0);
    cursor->Insert(*buffer);
    cursor->Flush();
    std::vector<std::string> keys;
    for (auto c = text->Search(nullptr, false); auto r = c->NextRow();) keys.push_back(r->Value(1).ToString());
    EXPECT_EQ(keys, (std::vector<std::string>{"12.5", "370010001001"}));
}

}  // namespace
