// The program's help: the topics the pages ask for are installed, their
// links lead to topics, and a topic reads well as text in a terminal.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <set>
#include <sstream>

#include "host/platform/Help.h"
#include "host/platform/Platform.h"
#include "PXCP/PXAnalysisUtils.h"

using namespace host::platform;

namespace {

TEST(Help, EveryTopicThePagesNameIsInstalledAndEveryLinkLeadsToATopic) {
    auto topics = HelpTopics();
    std::set<std::string> ids;
    for (auto& t : topics) {
        ids.insert(t.id);
        EXPECT_FALSE(t.title.empty() || t.title == t.id) << t.id << " has no title of its own";
    }
    for (const char* id : {"ABOUT_CUSTOMER_PROSPECTING", "ABOUT_CUSTOMER_PROFILE", "CONFIGURATION"})
        EXPECT_TRUE(ids.count(id)) << id;
    EXPECT_TRUE(FindHelpTopic("about_customer_profile"));
    EXPECT_TRUE(FindHelpTopic("query-files"));
    EXPECT_FALSE(FindHelpTopic("NO_SUCH_TOPIC"));

    for (auto& t : topics) {
        if (!t.html) continue;
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(HelpTopicBody(t).c_str())) << t.path << " is not well-formed";
        for (auto a : doc.select_nodes("//a")) {
            std::string href = a.node().attribute("href").as_string();
            if (href.find("://") != std::string::npos) continue;
            EXPECT_TRUE(FindHelpTopic(href)) << t.id << " links to " << href;
        }
    }
}

TEST(Help, ATopicAsTextHasItsHeadingsAndWrapsWithinTheWidth) {
    auto topic = FindHelpTopic("ABOUT_CUSTOMER_PROFILE");
    ASSERT_TRUE(topic);
    std::string text = HelpTopicText(*topic, 60);
    EXPECT_EQ(text.rfind("Customer profile\n================\n", 0), 0u) << text.substr(0, 80);
    EXPECT_NE(text.find("Making a profile\n----------------"), std::string::npos);
    EXPECT_NE(text.find("  1. On the demographic data page, click Customer"), std::string::npos);
    EXPECT_EQ(text.find('<'), std::string::npos);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t columns = 0;
        for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
        EXPECT_LE(columns, 60u) << line;
    }
}

TEST(Help, AHelpRequestReachesTheViewerWithItsTopic) {
    std::string shown;
    SetHelpViewer([&](const HelpTopic& t) { shown = t.id; });
    pxcp::ShowHelp(pxcp::kHelpFile, "ABOUT_CUSTOMER_PROFILE", 0);
    SetHelpViewer(nullptr);
    EXPECT_EQ(shown, "ABOUT_CUSTOMER_PROFILE");
    ASSERT_FALSE(HelpLog().empty());
    EXPECT_EQ(HelpLog().back().topic, "ABOUT_CUSTOMER_PROFILE");
}

}  // namespace
