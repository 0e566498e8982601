// The customer profile file: round trip, swapped manner labels, refusals.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "CustomerProfile/CustomerProfileFile.h"
#include "TestSupport.h"
#include "host/forms/ScriptedDriver.h"
#include "i18n/modi18N.h"

using namespace host;
using pxcp::CustomerProfileState;

namespace {

struct CpfTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
        forms::MessageLog().clear();
        state.header1 = "Whole study area";
        state.header2 = "Customers: zipcodes";
        state.header3 = "Counties, 1974-78";
        state.selected = true;
        state.manner = 0;
        state.variance = 15;
        state.clearBefore = true;
        AddRow(true, "Births", "Live births", "1", "1", "6674.1", "");
        AddRow(true, "Infant health", "Sudden infant deaths", "1", "0", "0.2", "% chance");
        AddRow(false, "Infant health", "Other", "0", "0", "", "");
    }
    void AddRow(bool first, const std::string& cat, const std::string& target, const std::string& available,
                const std::string& ticked, const std::string& value, const std::string& chance) {
        auto r = std::make_shared<Collection>();
        r->Add(first ? "True" : "False", "First");
        if (first) r->Add(cat + " caption", "Cat.caption");
        r->Add(target + " caption", "Target.caption");
        r->Add(cat, "0");
        r->Add(target, "1");
        r->Add(ticked, "2");
        r->Add(available, "3");
        r->Add(value, "Value");
        r->Add(chance, "Chance");
        state.rows->Add(r, std::to_string(state.rows->Count()));
    }
    pxtest::ScratchDir dir;
    std::string path = dir / "p.cpf";
    CustomerProfileState state;
};

TEST_F(CpfTest, RoundTripRestoresHeadersOptionsAndRows) {
    pxcp::SaveCPFFile(state, path, "ByLayer");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    // Manner 0 populates floors and is stored as "Ceiling".
    EXPECT_NE(text.str().find("name=\"Populate manner\" value=\"Ceiling\""), std::string::npos);
    EXPECT_EQ(text.str().find("<CATEGORY id=\"Infant health\""), text.str().rfind("<CATEGORY id=\"Infant health\""));

    CustomerProfileState back;
    back.rows = std::make_shared<Collection>();
    for (int i = 0; i < 3; ++i) back.rows->Add(std::make_shared<Collection>(), std::to_string(i));
    ASSERT_TRUE(pxcp::LoadCPFFile(back, path, "ByLayer"));
    EXPECT_EQ(back.header2, "Customers: zipcodes");
    EXPECT_TRUE(back.selected);
    EXPECT_EQ(back.manner, 0);
    EXPECT_EQ(back.variance, 15);
    EXPECT_TRUE(back.clearBefore);
    auto row1 = back.rows->Item(2).As<Collection>();
    EXPECT_EQ(row1->Item("First").ToString(), "True");
    EXPECT_EQ(row1->Item("Cat.caption").ToString(), "Infant health caption");
    EXPECT_EQ(row1->Item("Chance").ToString(), "% chance");
    EXPECT_EQ(row1->Item("2").ToLong(), 0);
    EXPECT_EQ(back.rows->Item(3).As<Collection>()->Item("First").ToString(), "False");
    EXPECT_EQ(back.rows->Item(1).As<Collection>()->Item("Value").ToString(), "6674.1");
}

TEST_F(CpfTest, OtherTaskTypesAndRowCountsLeaveTheRowsAlone) {
    pxcp::SaveCPFFile(state, path, "ByLayer");
    CustomerProfileState other;
    other.rows->Add(std::make_shared<Collection>(), "0");
    EXPECT_FALSE(pxcp::LoadCPFFile(other, path, "Household"));
    EXPECT_EQ(other.header1, "");
    EXPECT_FALSE(pxcp::LoadCPFFile(other, path, "ByLayer"));  // 3 rows in the file, 1 here
    EXPECT_EQ(other.header1, "Whole study area");             // options before the rows stay
    EXPECT_EQ(other.rows->Count(), 1);
    EXPECT_TRUE(forms::MessageLog().empty());
    pxcp::SaveCPFFile(state, "", "ByLayer");
    EXPECT_FALSE(pxcp::LoadCPFFile(other, dir / "none.cpf", "ByLayer"));
}

TEST_F(CpfTest, InvalidOptionValuesAreRefusedWithTheirMessage) {
    for (auto [name, value, message] : std::vector<std::tuple<std::string, std::string, int>>{
             {"Selected", "yes", 118}, {"Populate manner", "Both", 119}, {"Clear unaffected values", "1", 120},
             {"Colour", "red", 121}}) {
        forms::MessageLog().clear();
        std::ofstream(path) << "<CPCPFFILE><COMMONPROPERTIES><COMMONPROPERTY name=\"" << name << "\" value=\"" << value
                            << "\"/></COMMONPROPERTIES><CATEGORIES/></CPCPFFILE>";
        EXPECT_FALSE(pxcp::LoadCPFFile(state, path, "ByLayer")) << name;
        ASSERT_EQ(forms::MessageLog().size(), 1u) << name;
        // Text 120 is the populate page's caption for the option too.
        std::string expected = message == 120 ? pxcp::FindString(128) + ": Clear unaffected values first"
                                              : pxcp::FindString(message);
        EXPECT_EQ(forms::MessageLog()[0].text, expected) << name;
    }
    std::ofstream(path) << "<CPCPFFILE><COMMONPROPERTIES><COMMONPROPERTY name=\"Populate manner\" value=\"Floor\"/>"
                           "</COMMONPROPERTIES></CPCPFFILE>";
    EXPECT_FALSE(pxcp::LoadCPFFile(state, path, "ByLayer"));  // no categories: silently
    EXPECT_EQ(state.manner, 1);
}

// A variance that is no number from 0 to 100 is left out with one message;
// the variance offered so far stays and the rest of the file is read.
TEST_F(CpfTest, AVarianceThatIsNoNumberKeepsTheOneOffered) {
    pxcp::SaveCPFFile(state, path, "ByLayer");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    const std::string saved = "name=\"Variance\" value=\"15\"";
    ASSERT_NE(text.str().find(saved), std::string::npos);
    for (auto [value, expected] : std::vector<std::pair<std::string, int>>{
             {"7", 7}, {" 40 ", 40}, {"12.5", 12}, {"0", 0}, {"100", 100},
             {"ten", 3}, {"", 3}, {"12,5", 3}, {"1e9", 3}, {"-3", 3}, {"101", 3}, {"nan", 3}, {"40%", 3}}) {
        forms::MessageLog().clear();
        std::ofstream(path) << ReplaceAll(text.str(), saved, "name=\"Variance\" value=\"" + value + "\"");
        CustomerProfileState back;
        back.variance = 3;
        back.rows = std::make_shared<Collection>();
        for (int i = 0; i < 3; ++i) back.rows->Add(std::make_shared<Collection>(), std::to_string(i));
        EXPECT_TRUE(pxcp::LoadCPFFile(back, path, "ByLayer")) << value;
        EXPECT_EQ(back.variance, expected) << value;
        EXPECT_TRUE(back.clearBefore) << value;  // read after the variance
        EXPECT_EQ(back.rows->Count(), 3) << value;
        if (expected == 3) {
            ASSERT_EQ(forms::MessageLog().size(), 1u) << value;
            EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(155));
            EXPECT_EQ(forms::MessageLog()[0].style & 0x70, forms::vbExclamation);
        } else {
            EXPECT_TRUE(forms::MessageLog().empty()) << value;
        }
    }
}

}  // namespace
