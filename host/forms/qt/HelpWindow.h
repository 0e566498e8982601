// The desktop's help window: shows a topic of the program's help, follows
// links between topics, and stays usable beside a modal page.
#pragma once

#include <QTextBrowser>

#include "host/platform/Help.h"

namespace host::forms {

class HelpWindow : public QTextBrowser {
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    void ShowTopic(const platform::HelpTopic& topic);
    const std::string& TopicId() const { return topicId_; }

private:
    std::string topicId_;
};

// Makes every help request of the program open its topic in a help window
// (one at a time, in front of the page that asked).
void InstallHelpWindow();
// The help window now on screen, if any.
HelpWindow* CurrentHelpWindow();

}  // namespace host::forms
