// The program's help: topics written as pages in the help folder (HTML) or
// taken from the reference documents (Markdown), found by the ids the
// pages ask for. The desktop installs a viewer that shows a topic in its
// help window; without one a request names the topic on stderr, and any
// topic can be printed as text.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host::platform {

struct HelpTopic {
    std::string id;     // e.g. "ABOUT_CUSTOMER_PROFILE"
    std::string title;  // the page's own title
    std::string path;   // the page's file
    bool html = true;   // else Markdown
};

// Where the topics are: PLEXA_HELP_DIR, else docs/help beside or above the
// program, else the source tree's docs/help the program was built from.
std::string HelpFolder();
// Every topic whose page can be read, in the order of the index.
std::vector<HelpTopic> HelpTopics();
// The topic of an id, ignoring case; none when its page is missing.
std::optional<HelpTopic> FindHelpTopic(const std::string& id);
// The page as written.
std::string HelpTopicBody(const HelpTopic& topic);
// The page as plain text for a terminal: headings underlined, paragraphs
// and list items wrapped at width columns.
std::string HelpTopicText(const HelpTopic& topic, int width = 78);

// Shows a topic; the desktop installs its help window here. An empty
// function restores the default, which names the topic on stderr.
using HelpViewer = std::function<void(const HelpTopic&)>;
void SetHelpViewer(HelpViewer viewer);
void ShowTopic(const HelpTopic& topic);

}  // namespace host::platform
