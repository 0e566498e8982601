#include "GuiSupport.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "PXCP/Register.h"

namespace fs = std::filesystem;
using namespace host;

namespace pxtest {

std::string ShotDir() {
    std::string d = std::string(PXCP_BINARY_DIR) + "/screenshots";
    fs::create_directories(d);
    return d;
}

void Click(QDialog& d, const char* name) {
    if (auto* b = d.findChild<QAbstractButton*>(name)) {
        ASSERT_TRUE(b->isEnabled()) << name << " is disabled";
        QTest::mouseClick(b, Qt::LeftButton);
    } else {
        ADD_FAILURE() << "no button " << name;
    }
}

void Type(QDialog& d, const char* name, const QString& text) {
    if (auto* e = Find<QLineEdit>(d, name)) {
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, text);
    }
}

void ClickOption(QRadioButton* o) {
    if (o) QTest::mouseClick(o, Qt::LeftButton, {}, QPoint(8, o->height() / 2));
}

void ClickItem(QDialog& d, const char* list, const QString& text) {
    auto* l = Find<QListWidget>(d, list);
    if (!l) return;
    auto found = l->findItems(text, Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty()) << "no entry " << text.toStdString() << " in " << list;
    QRect r = l->visualItemRect(found.front());
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
}

void DesktopTest::SetUp() {
    if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
    std::ifstream in(SourceDir() + "/data/nc.xml");
    std::stringstream text;
    text << in.rdbuf();
    std::string xml = ReplaceAll(text.str(), "data=\"sample\"", "data=\"" + SampleDir() + "\"");
    xml = ReplaceAll(xml, "<PlexaConfiguration ", "<PlexaConfiguration analyses=\"" + (dir / "analyses") + "\" ");
    std::ofstream(dir / "nc.xml") << xml;
    session = std::make_unique<HostSession>(HostSession::Open(dir / "nc.xml"));
    pxcp::RegisterPXCPClasses();
    session->AddBasemap();
    window = std::make_unique<plexa::MainWindow>(*session);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    forms::MessageLog().clear();
}

}  // namespace pxtest
