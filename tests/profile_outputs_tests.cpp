// The profile table and the printed profile.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "CustomerProfile/ProfileOutputs.h"
#include "TestSupport.h"
#include "host/gis/Gis.h"

using namespace host;

namespace {

CollectionPtr Rows() {
    auto rows = std::make_shared<Collection>();
    auto add = [&](bool first, const std::string& cat, const std::string& target, const std::string& value,
                   const std::string& chance) {
        auto r = std::make_shared<Collection>();
        r->Add(first ? "True" : "False", "First");
        if (first) r->Add(cat, "Cat.caption");
        r->Add(target, "Target.caption");
        r->Add(value, "Value");
        r->Add(chance, "Chance");
        rows->Add(r, std::to_string(rows->Count()));
    };
    add(true, "Births", "Live births", "21.5", "");
    add(false, "", "Births per year", "22.5", "");
    add(true, "A category caption of 31 chars.", "Sudden infant deaths", "35", "% chance");
    add(false, "", "Not profiled", "", "");
    // Profiled without success: the earlier value stays, the reason is shown.
    add(false, "", "Non-white births of mothers under 20", "3.5", "% chance");
    rows->Item(5).As<Collection>()->Add("not profiled: no value of NWBIR74 in Ashe (37009)", "Reason");
    return rows;
}


TEST(ProfileTable, OneRowPerCharacteristicWithItsCategory) {
    pxtest::ScratchDir dir;
    RegisterHostClasses();
    forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
    ASSERT_TRUE(pxcp::WriteProfileTable(*Rows(), dir / "profile"));
    auto t = gis::Workspace::OpenFolder(dir.Path().string())->OpenTable("profile");
    std::vector<std::string> names;
    for (long i = 0; i < t->GetFields()->FieldCount(); ++i) names.push_back(t->GetFields()->GetField(i)->name);
    EXPECT_EQ(names, (std::vector<std::string>{"FID", "Category", "Field", "AvgDesc", "AvgVal"}));
    auto c = t->Search(nullptr, false);
    std::vector<std::string> desc, cats, chars;
    std::vector<double> vals;
    while (auto r = c->NextRow()) {
        cats.push_back(r->Value(1).ToString());
        chars.push_back(r->Value(2).ToString());
        desc.push_back(r->Value(3).ToString());
        vals.push_back(r->Value(4).ToDouble());
    }
    // Captions longer than their 30 characters are cut.
    const std::string cut = "A category caption of 31 chars";
    EXPECT_EQ(cats, (std::vector<std::string>{"Births", "Births", cut, cut, cut}));
    EXPECT_EQ(chars.back(), "Non-white births of mothers un");
    // Halves go to the even neighbour; a row not profiled has no average.
    EXPECT_EQ(desc, (std::vector<std::string>{"22", "22", "35% chance", "", ""}));
    EXPECT_EQ(vals, (std::vector<double>{21.5, 22.5, 35, 0, 0}));
    t->Close();
    std::string dbf = dir / "profile.dbf";
    EXPECT_EQ(pxtest::DbfField(dbf, "Category"), std::make_tuple('C', 30, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "Field"), std::make_tuple('C', 30, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "AvgDesc"), std::make_tuple('C', 10, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "AvgVal"), std::make_tuple('N', 16, 1));
}

TEST(ProfilePrintout, ColumnsCopiesAndAReadablePdf) {
    pxtest::ScratchDir dir;
    pxcp::CustomerProfileState state;
    state.header1 = "Whole study area";
    state.header2 = "Customers: zipcodes";
    state.header3 = "Counties, 1974-78";
    state.rows = Rows();
    platform::Printer printer(dir / "profile.pdf");
    pxcp::PrintProfile(printer, state, 3);
    const auto& doc = printer.Document();
    long titles = 0;
    for (auto& l : doc) titles += l == "    AVERAGE CUSTOMER PROFILE";
    EXPECT_EQ(titles, 3);
    auto find = [&](const std::string& text) {
        for (auto& l : doc)
            if (auto p = l.find(text); p != std::string::npos) return static_cast<long>(p) + 1;
        return 0L;
    };
    EXPECT_EQ(find("Births"), 5);
    EXPECT_EQ(find("Live births"), 35);
    // The average as the grid shows it: a whole number, halves to even.
    for (auto& l : doc)
        if (l.find("Live births") != std::string::npos) {
            EXPECT_EQ(l.substr(74), "22");
        }
    // A category of 31 characters pushes the characteristic to length + 7.
    EXPECT_EQ(find("Sudden infant deaths"), 31 + 7);
    // A row that could not be profiled shows why in the average column.
    EXPECT_EQ(find("not profiled: no value of NWBIR74 in Ashe (37009)"), 75);
    long chances = 0;
    for (auto& l : doc) chances += l.find("% chance") != std::string::npos;
    EXPECT_EQ(chances, 3);  // 35% of each copy: the earlier value of that row is not printed
    EXPECT_TRUE(std::filesystem::exists(dir / "profile.pdf"));
    if (!std::filesystem::exists("/usr/bin/pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    std::string cmd = "pdftotext -layout '" + (dir / "profile.pdf") + "' -";
    std::string text;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        std::array<char, 4096> buf;
        while (size_t n = fread(buf.data(), 1, buf.size(), p)) text.append(buf.data(), n);
        pclose(p);
    }
    EXPECT_NE(text.find("AVERAGE CUSTOMER PROFILE"), std::string::npos);
    EXPECT_NE(text.find("35% chance"), std::string::npos);
}

}  // namespace
