// The profile table and the printed profile.
#include <gtest/gtest.h>

#include <algorithm>
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
    std::string text = pxtest::PdfText(dir / "profile.pdf");
    EXPECT_NE(text.find("AVERAGE CUSTOMER PROFILE"), std::string::npos);
    EXPECT_NE(text.find("35% chance"), std::string::npos);
}

// The platform printer on its own: columns, Unicode, wrapping and pages.

using host::platform::Printer;

bool HavePdfToText() { return std::filesystem::exists("/usr/bin/pdftotext"); }

// A record's columns count characters: a category of 31 characters with
// umlauts pushes the characteristic to column 38, as one without would.
TEST(ProfilePrintout, ColumnsCountCharactersNotBytes) {
    pxtest::ScratchDir dir;
    Printer printer(dir / "record.pdf");
    pxcp::PrintRecord(printer, {"Bevölkerung über 65, Großstädte", "Ñandú", "35% chance"});
    printer.EndDoc();
    ASSERT_EQ(printer.Document().size(), 2u);  // the blank line before a category, then the record
    const std::string& line = printer.Document()[1];
    EXPECT_EQ(Printer::Width(line.substr(0, line.find("Ñandú"))) + 1, 38);
    EXPECT_EQ(Printer::Width(line.substr(0, line.find("35%"))) + 1, 75);
}

TEST(Printout, UnicodeTextKeepsItsColumnsAndReadsBack) {
    pxtest::ScratchDir dir;
    Printer printer(dir / "unicode.pdf");
    printer.PrintAt(5, "Bevölkerung über 65");
    printer.PrintAt(35, "Ñandú");
    printer.PrintAt(45, "東京");
    printer.PrintAt(50, "x");
    printer.NewLine();
    printer.EndDoc();
    // Columns count characters: ö is one, 東 two.
    ASSERT_EQ(printer.Document().size(), 1u);
    const std::string& line = printer.Document()[0];
    EXPECT_EQ(Printer::Width(line.substr(0, line.find("Ñandú"))), 34);
    EXPECT_EQ(Printer::Width(line), 50);
    EXPECT_EQ(Printer::Width("e\u0301"), 1);  // a combining accent takes no column
    if (!HavePdfToText()) GTEST_SKIP() << "pdftotext not installed";
    std::string text = pxtest::PdfText(dir / "unicode.pdf");
    EXPECT_NE(text.find("Bevölkerung über 65"), std::string::npos) << text;
    EXPECT_NE(text.find("Ñandú"), std::string::npos) << text;
    EXPECT_EQ(text.find('?'), std::string::npos) << text;
}

TEST(Printout, LongLinesWrapIndentedAndPagesBreak) {
    pxtest::ScratchDir dir;
    Printer printer(dir / "long.pdf");
    std::string reason = "not profiled: no value of NWBIR74 in Ashe (37009) nor in any of the areas around it";
    printer.PrintAt(5, "Ethnicity");
    printer.PrintAt(35, "Non-white births");
    printer.PrintAt(75, reason);
    printer.NewLine();
    printer.PrintAt(5, std::string(150, 'W') + "TAILEND");
    printer.NewLine();
    for (int i = 0; i < 100; ++i) {
        printer.PrintAt(5, "line " + std::to_string(i));
        printer.NewLine();
    }
    printer.EndDoc();
    int columns = printer.Columns();
    ASSERT_GT(columns, 80);
    const auto& lines = printer.PrintedLines();
    for (auto& l : lines) EXPECT_LE(Printer::Width(l), columns) << l;
    // The reason goes on, word by word, under the line's text; the long
    // word is cut at the edge.
    ASSERT_GE(lines.size(), 104u);
    const std::string& whole = printer.Document()[0];
    ASSERT_EQ(whole.compare(0, lines[0].size(), lines[0]), 0);
    EXPECT_EQ(whole[lines[0].size()], ' ');  // cut after a whole word
    EXPECT_EQ(lines[1].find_first_not_of(' '), 8u);
    auto squeeze = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
        return s;
    };
    std::string joined;
    for (size_t i = 0; i < 4; ++i) joined += lines[i];
    EXPECT_NE(squeeze(joined).find(squeeze(reason)), std::string::npos);
    EXPECT_EQ(printer.Document().size(), 102u);  // the lines as printed by column stay whole
    // 57 lines to a page, continuations included.
    EXPECT_EQ(printer.LinesPerPage(), 57);
    EXPECT_EQ(printer.Pages(), int((lines.size() + 56) / 57));
    if (!HavePdfToText()) GTEST_SKIP() << "pdftotext not installed";
    std::string text = pxtest::PdfText(dir / "long.pdf");
    EXPECT_NE(text.find("TAILEND"), std::string::npos);
    EXPECT_NE(text.find("around it"), std::string::npos);
    EXPECT_NE(text.find("line 99"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), printer.Pages());
}

TEST(Printout, WrapCutsAtBlanksAndNeverInsideAWideCharacter) {
    // Texts after two blanks are fields: the continuation goes under the field, two in.
    auto w = Printer::Wrap("    head" + std::string(30, ' ') + "alpha beta gamma delta epsilon zeta eta theta", 70);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], "    head" + std::string(30, ' ') + "alpha beta gamma delta epsilon");
    EXPECT_EQ(w[1], std::string(40, ' ') + "zeta eta theta");
    // A field too far right for a useful continuation goes on four in from the line's start.
    auto far = Printer::Wrap("  a" + std::string(50, ' ') + "one two three four five six seven", 60);
    ASSERT_GE(far.size(), 2u);
    EXPECT_EQ(far[1].find_first_not_of(' '), 6u);
    // Fifty wide characters are a hundred columns: two lines, none split.
    std::string wide;
    for (int i = 0; i < 50; ++i) wide += "漢";
    auto cut = Printer::Wrap(wide, 61);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(Printer::Width(cut[0]), 60);
    EXPECT_EQ(cut[1].find_first_not_of(' '), 2u);
    EXPECT_EQ(Printer::Width(cut[0]) / 2 + (Printer::Width(cut[1]) - 2) / 2, 50);
    EXPECT_EQ(Printer::Wrap("short", 60), std::vector<std::string>{"short"});
}

}  // namespace
