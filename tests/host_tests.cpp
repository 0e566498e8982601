// Object model, property sets, locale numbers, forms and the script.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "host/Object.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/Framework.h"
#include "host/framework/ParamTable.h"
#include "host/platform/Locale.h"
#include <fstream>
#include "host/framework/Resources.h"
#include "host/platform/Platform.h"
#include "host/platform/TextFile.h"
#include "i18n/modi18N.h"
#include "pages/SmallPages.h"

using namespace host;

TEST(Variant, ConvertsLikeTheHostScripting) {
    EXPECT_EQ(Variant("12").ToLong(), 12);
    EXPECT_EQ(Variant(2.5).ToLong(), 2);   // half to even
    EXPECT_EQ(Variant(3.5).ToLong(), 4);
    EXPECT_TRUE(Variant("True").ToBool());
    EXPECT_FALSE(Variant("False").ToBool());
    EXPECT_EQ(Variant(true).ToString(), "True");
    EXPECT_THROW(Variant("abc").ToDouble(), RuntimeError);
    EXPECT_TRUE(Variant(nullptr).IsNothing());
    EXPECT_THROW(Variant("x").ToObject(), RuntimeError);
}

TEST(Collection, ReplaceKeepsTheOrderAndKeysIgnoreCase) {
    Collection c;
    c.Add("a", "Floor0");
    c.Add("b", "Ceiling0");
    c.Add("c", "Target1");
    c.Replace("floor0", "z");
    EXPECT_EQ(c.KeyAt(1), "Floor0");
    EXPECT_EQ(c.Item(1).ToString(), "z");
    c.Remove("Ceiling0");
    c.Add("y", "Ceiling0", "", "Floor0");
    EXPECT_EQ(c.KeyAt(2), "Ceiling0");
    EXPECT_THROW(c.Add("dup", "TARGET1"), RuntimeError);
    EXPECT_THROW(c.Item(9), RuntimeError);
}

// Keys are found by an index that inserts and removes in the middle shift;
// every key must still lead to its own value, in a collection of many.
TEST(Collection, KeysFindTheirValuesAfterInsertsAndRemovals) {
    Collection c;
    for (int i = 0; i < 10000; ++i) c.Add(Variant(std::to_string(i)), "T" + std::to_string(i));
    c.Add("first", "Head", "T0");
    c.Remove("T5000");
    c.Add("mid", "t5000", "", "T4999");
    c.RemoveAt(c.Count());
    c.Add("last", "Tail");
    EXPECT_EQ(c.KeyAt(1), "Head");
    EXPECT_EQ(c.Item("T0").ToString(), "0");
    EXPECT_EQ(c.Item("T5000").ToString(), "mid");
    EXPECT_EQ(c.KeyAt(5002), "t5000");
    EXPECT_FALSE(c.Contains("T9999"));
    EXPECT_EQ(c.Item("tail").ToString(), "last");
    for (int i : {1, 4999, 5001, 9998}) EXPECT_EQ(c.Item("T" + std::to_string(i)).ToString(), std::to_string(i));
    c.Clear();
    EXPECT_FALSE(c.Contains("T1"));
    c.Add("again", "T1");
    EXPECT_EQ(c.Item(1).ToString(), "again");
}

TEST(PropertySet, NamesAreExactAndXmlRoundTrips) {
    PropertySet ps;
    ps.SetProperty("Name", "Shops");
    ps.SetProperty("FormLeft", 1200.0);
    ps.SetProperty("Flag", true);
    EXPECT_TRUE(ps.GetProperty("name").IsEmpty());
    PropertySet back;
    back.FromXml(ps.ToXml());
    EXPECT_EQ(back.GetProperty("Name").ToString(), "Shops");
    EXPECT_EQ(back.GetProperty("FormLeft").ToDouble(), 1200.0);
    EXPECT_TRUE(back.GetProperty("Flag").ToBool());
    back.RemoveProperty("Name");
    EXPECT_EQ(back.Count(), 2);
}

TEST(ParamTable, SetsTheBoundMemberTheWayItsTypeTakesIt) {
    std::string text;
    bool flag = false;
    double number = 0;
    int16_t small = 0;
    PropertySetPtr object = std::make_shared<PropertySet>();
    auto set = [&](const std::string& name, Variant value, ParamNames match = ParamNames::kExact) {
        return SetBoundParam({{"Text", text}, {"Flag", flag}, {"Number", number}, {"Small", small}, {"Object", object}},
                             name, value, match);
    };
    EXPECT_TRUE(set("Text", "Shops"));
    EXPECT_EQ(text, "Shops");
    EXPECT_TRUE(set("Flag", "True"));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(set("Number", "7"));
    EXPECT_EQ(number, 7.0);
    EXPECT_TRUE(set("Small", 3.0));
    EXPECT_EQ(small, 3);

    // Unknown names, and names in another case unless asked, change nothing.
    EXPECT_FALSE(set("Missing", "x"));
    EXPECT_FALSE(set("text", "x"));
    EXPECT_EQ(text, "Shops");
    EXPECT_TRUE(set("text", "x", ParamNames::kAnyCase));
    EXPECT_EQ(text, "x");

    // An object member takes an object of its class, and null for anything else.
    auto other = std::make_shared<PropertySet>();
    EXPECT_TRUE(set("Object", Variant(other)));
    EXPECT_EQ(object, other);
    EXPECT_TRUE(set("Object", Variant(std::make_shared<Collection>())));
    EXPECT_EQ(object, nullptr);
    object = other;
    EXPECT_TRUE(set("Object", "not an object"));
    EXPECT_EQ(object, nullptr);
}

TEST(Locale, ReadsAndWritesNumbersInTheUsersLocale) {
    auto saved = platform::CurrentLocale();
    platform::UserLocale de{1031, ',', '.'};
    platform::SetCurrentLocale(de);
    EXPECT_EQ(*platform::ParseLocaleNumber("12,5"), 12.5);
    EXPECT_FALSE(platform::IsNumeric("12,5,1"));
    EXPECT_EQ(platform::FormatFixed(12.5, 2), "12,50");
    platform::SetCurrentLocale(saved);
    EXPECT_EQ(platform::FormatFixed(0, 2), "0.00");
    EXPECT_EQ(platform::FormatFixed(-0.001, 2), "0.00");
    EXPECT_FALSE(platform::IsNumeric(""));
    EXPECT_FALSE(platform::IsNumeric("1e"));
    EXPECT_TRUE(platform::IsNumeric(" 1e3 "));
}

TEST(Localisation, ToolTipsDropAccessKeysAndEllipsis) {
    EXPECT_EQ(pxcp::MakeToolTip(" &Show Query... "), "Show Query");
    EXPECT_EQ(pxcp::MakeToolTip("Save && Close"), "Save & Close");
    // The ellipsis is found once the access key is gone, wherever it sat.
    EXPECT_EQ(pxcp::MakeToolTip("Browse..&."), "Browse");
    EXPECT_EQ(pxcp::MakeToolTip("Table...&"), "Table");
    EXPECT_EQ(pxcp::MakeToolTip("Wait.."), "Wait..");
    EXPECT_EQ(pxcp::StripNull(std::string("abc\0def", 7)), "abc");
    EXPECT_EQ(pxcp::GetCodePage(1041), 932);
}

namespace {
struct TinyPage : forms::Form {
    TinyPage() : Form("TinyPage") {}
    void CreateControls() override {
        caption = "269";
        Add("OkButton", forms::ControlKind::CommandButton, "156").toolTipText = "179";
        Add("Image1", forms::ControlKind::Image, "");
        Add("Unknown", forms::ControlKind::Label, "99999");
        auto& list = Add("List", forms::ControlKind::ListBox);
        list.AddItem("160");
        list.AddItem("plain");
        Add("Box", forms::ControlKind::TextBox).SetText("161");
    }
};
}  // namespace

TEST(Localisation, FormTextsComeFromTheResourceLibrary) {
    RegisterHostClasses();
    TinyPage p;
    pxcp::LocalizeForm(p);
    EXPECT_EQ(p.caption, pxcp::FindString(269));
    EXPECT_EQ(p.Ctl("OkButton").caption, "OK");
    EXPECT_EQ(p.Ctl("OkButton").toolTipText, "Show Query");
    EXPECT_EQ(p.Ctl("Unknown").caption, "99999");  // unknown id: left alone
    EXPECT_EQ(p.Ctl("List").List()[0], pxcp::FindString(160));
    EXPECT_EQ(p.Ctl("List").List()[1], "plain");
    EXPECT_EQ(p.Ctl("Box").Text(), pxcp::FindString(161));
}

TEST(Localisation, EastAsianCodePagesGetTheirFontsEnglishKeepsTheDesign) {
    RegisterHostClasses();
    auto saved = platform::CurrentLocale();
    TinyPage english;
    english.Ctl("OkButton").font.size = 8;
    pxcp::SetFormFont(english);
    EXPECT_EQ(english.Ctl("OkButton").font.name, "MS Sans Serif");
    platform::SetCurrentLocale({1041, '.', ','});
    TinyPage jp;
    pxcp::SetFormFont(jp);
    EXPECT_EQ(jp.Ctl("OkButton").font.charset, 128);
    EXPECT_EQ(jp.Ctl("OkButton").font.size, 9);
    EXPECT_EQ(jp.Ctl("OkButton").font.name, "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF");
    // Simplified Chinese: its own character set and face, at least size 9.
    forms::Font chinese;
    chinese.size = 12;
    pxcp::SetFontForCodePage(chinese, 936);
    EXPECT_EQ(chinese.charset, 134);
    EXPECT_EQ(chinese.name, "\xE5\xAE\x8B\xE4\xBD\x93");
    EXPECT_EQ(chinese.size, 12);
    platform::SetCurrentLocale({1049, ',', '.'});
    TinyPage ru;
    pxcp::SetFormFont(ru);
    EXPECT_EQ(ru.Ctl("OkButton").font.charset, 204);
    EXPECT_EQ(ru.Ctl("OkButton").font.name, "");
    platform::SetCurrentLocale(saved);
}

TEST(Localisation, LayoutPlacesEveryControlAndFitsTheCaptionBar) {
    RegisterHostClasses();
    auto& screen = platform::Screen();
    auto saved = screen;
    screen.captionHeightPixels = 30;
    screen.twipsPerPixelY = 20;
    pxcp::SelectAnalysisNameDialog page;
    page.Load();
    screen = saved;
    auto layout = [](int id) { return std::stod(LayoutResources().at(id)); };
    // The stored height assumes a caption of 315 twips.
    EXPECT_EQ(page.height, layout(600) - 315 + 30 * 20);
    EXPECT_EQ(page.width, layout(601));
    // Each control takes four ids: height, left, top, width; the name box
    // comes first, the comment box next.
    auto& name = page.Ctl("AnalysisNameText");
    EXPECT_EQ(name.height, layout(602));
    EXPECT_EQ(name.left, layout(603));
    EXPECT_EQ(name.top, layout(604));
    EXPECT_EQ(name.width, layout(605));
    auto& comment = page.Ctl("AnalysisCommentText");
    EXPECT_EQ(comment.height, layout(606));
    EXPECT_EQ(comment.left, layout(607));
}

TEST(ScriptedDriver, PlaysAScriptAndReportsWhatItCouldNot) {
    auto d = std::make_shared<forms::ScriptedDriver>();
    forms::SetDriver(d);
    d->LoadScript("# comment\nTinyPage: select List \"plain\"\nTinyPage: click OkButton\nanswer No\n");
    TinyPage p;
    bool clicked = false;
    p.Ctl("OkButton").onClick = [&] {
        clicked = true;
        EXPECT_EQ(forms::MsgBox("sure?", forms::vbYesNo), forms::vbNo);
        p.Hide();
    };
    p.ShowModal();
    EXPECT_TRUE(clicked);
    EXPECT_EQ(p.Ctl("List").ListIndex(), 1);
    EXPECT_TRUE(d->Problems().empty());
    // A page the script does not expect is cancelled, with a problem noted.
    d->LoadScript("OtherPage: click OkButton\n");
    TinyPage q;
    q.ShowModal();
    EXPECT_FALSE(q.IsVisible());
    EXPECT_EQ(d->Problems().size(), 1u);
    EXPECT_THROW(d->LoadScript("TinyPage: wave OkButton\n"), RuntimeError);
    EXPECT_THROW(d->LoadScript("answer Maybe\n"), RuntimeError);
}

TEST(Configuration, BadFilesGiveClearErrors) {
    pxtest::ScratchDir dir;
    EXPECT_THROW(LoadHostConfiguration(dir / "missing.xml"), RuntimeError);
    {
        std::ofstream(dir / "bad.xml") << "<PlexaConfiguration><Dataset";
    }
    try {
        LoadHostConfiguration(dir / "bad.xml");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("not valid XML"), std::string::npos);
    }
}

TEST(DataManager, AnalysesAreFoldersThatSurviveARestart) {
    pxtest::ScratchDir dir;
    {
        DataManager dm({}, dir / "analyses");
        auto a = dm.CreateAnalysis("High births: 1974");
        a->SetProperty("AreaID", "ID");
        EXPECT_TRUE(dm.AnalysisExists("HIGH BIRTHS: 1974"));
        EXPECT_THROW(dm.CreateAnalysis("high births: 1974"), RuntimeError);
    }
    DataManager again({}, dir / "analyses");
    auto a = again.GetAnalysis("High births: 1974");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->GetProperty("AreaID").ToString(), "ID");
    EXPECT_TRUE(std::filesystem::exists(a->Folder()));
    EXPECT_TRUE(again.RemoveAnalysis("High births: 1974"));
    EXPECT_FALSE(std::filesystem::exists(a->Folder()));
    EXPECT_FALSE(again.RemoveAnalysis("High births: 1974"));
}

// Bytes that are not UTF-8 and lone surrogates become U+FFFD and never
// take the line break after them along, nor make one of their own: a
// Unicode file keeps its lines.
TEST(UnicodeText, BrokenCharactersDoNotSwallowLineBreaks) {
    using platform::Utf16ToUtf8;
    using platform::Utf8ToUtf16;
    EXPECT_EQ(Utf8ToUtf16("a\xc3\xa9\xf0\x9f\x98\x80"), (std::u16string{u'a', 0xe9, 0xd83d, 0xde00}));
    EXPECT_EQ(Utf8ToUtf16("x\xf6\r\n"), (std::u16string{u'x', 0xfffd, u'\r', u'\n'}));
    EXPECT_EQ(Utf8ToUtf16("\xe2\x82\n"), (std::u16string{0xfffd, u'\n'}));
    EXPECT_EQ(Utf8ToUtf16("a\xc0\x8a" "b\xe0\x80\x8d\xf0\x80\x80\x8a"), (std::u16string{u'a', 0xfffd, u'b', 0xfffd, 0xfffd}));
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xd83d, 0xde00}), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xd800, u'\n', u'b'}), "a\xef\xbf\xbd\nb");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xdc00}), "\xef\xbf\xbd");

    pxtest::ScratchDir dir;
    std::string file = dir / "lines.txt";
    ASSERT_TRUE(platform::WriteUnicodeLines(file, {"analyst\xf6\xf6\xf6\xf6\xf6", "FBE79132", "next\xc0\x8aline"}));
    auto lines = platform::ReadUnicodeLines(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "FBE79132");
    EXPECT_EQ(lines[2], "next\xef\xbf\xbdline");
}

TEST(FileInfo, SplitsFolderAndName) {
    FileInfo f;
    f.SetPath("/data/an/Result");
    EXPECT_EQ(f.Folder(), "/data/an/");
    EXPECT_EQ(f.FileName(), "Result");
    f.SetPath("C:\\x\\y.dbf");
    EXPECT_EQ(f.Folder(), "C:\\x\\");
}
