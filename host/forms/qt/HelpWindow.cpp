#include "host/forms/qt/HelpWindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QPointer>
#include <QUrl>

namespace host::forms {

namespace {
QPointer<HelpWindow>& Current() {
    static QPointer<HelpWindow> window;
    return window;
}
QString Q(const std::string& s) { return QString::fromUtf8(s.c_str(), static_cast<int>(s.size())); }
}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QTextBrowser(parent) {
    setWindowFlag(Qt::Window);
    setObjectName("HelpWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setOpenLinks(false);
    resize(640, 720);
    // Links name other topics by id; anything else is a web address.
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (auto topic = platform::FindHelpTopic(url.toString().toStdString())) ShowTopic(*topic);
        else if (!url.scheme().isEmpty()) QDesktopServices::openUrl(url);
    });
}

void HelpWindow::ShowTopic(const platform::HelpTopic& topic) {
    topicId_ = topic.id;
    QString body = Q(platform::HelpTopicBody(topic));
    if (topic.html) setHtml(body);
    else setMarkdown(body);
    setWindowTitle("Help - " + Q(topic.title));
}

void InstallHelpWindow() {
    platform::SetHelpViewer([](const platform::HelpTopic& topic) {
        // A window owned by the modal page stays usable while the page is up.
        QWidget* owner = QApplication::activeModalWidget();
        if (!owner) owner = QApplication::activeWindow();
        auto& window = Current();
        if (window && window->parentWidget() != owner) window->close();
        if (!window) window = new HelpWindow(owner);
        window->ShowTopic(topic);
        window->show();
        window->raise();
        window->activateWindow();
    });
}

HelpWindow* CurrentHelpWindow() { return Current().data(); }

}  // namespace host::forms
