// Where the wizard's pages open, run after run: on an X server whose window
// manager frames the windows (through tests/with_window_manager.sh), and on
// the offscreen platform. The places kept in the page settings are the
// windows' frames.
#include <QGuiApplication>
#include <QScreen>

#include "GuiSupport.h"
#include "host/platform/Platform.h"

using namespace host;
using namespace pxtest;

namespace {

using PlacesTest = DesktopTest;

int Apart(const QPoint& a, const QPoint& b) { return (a - b).manhattanLength(); }

// Cancelled on the demographic data page six times: every run opens the
// level page in one place and centres the data page on it, and the title
// bars stay on the screen.
TEST_F(PlacesTest, RunAfterCancelledRunThePagesOpenInOnePlace) {
    std::vector<QRect> levelFrames, dataFrames;
    std::string shot;
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        ASSERT_NE(d.frameGeometry(), d.geometry()) << "the window manager framed no window";
        if (form.Name() == "SelectGeographyLevelDialog") {
            levelFrames.push_back(d.frameGeometry());
            ClickItem(d, "GeographyLevelsList", "Counties");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            dataFrames.push_back(d.frameGeometry());
            if (dataFrames.size() == 6) {
                shot = ShotDir() + "/wizard-sixth-run-framed.png";
                d.screen()->grabWindow(0).save(QString::fromStdString(shot));
            }
            Click(d, "CancelButton");
        } else {
            d.reject();
        }
    };
    for (int run = 0; run < 6; ++run) window->RunCustomerProspecting();
    ASSERT_EQ(levelFrames.size(), 6u);
    ASSERT_EQ(dataFrames.size(), 6u);
    // The first run has no place yet: the middle of the screen, for a page
    // whose height counts a caption bar (which the frame may lack).
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(Apart(levelFrames[0].center(), screen.center()), platform::Screen().captionHeightPixels / 2 + 2);
    for (size_t run = 0; run < 6; ++run) {
        EXPECT_LE(Apart(levelFrames[run].topLeft(), levelFrames[0].topLeft()), 2) << "run " << run + 1;
        EXPECT_LE(Apart(dataFrames[run].topLeft(), dataFrames[0].topLeft()), 2) << "run " << run + 1;
        EXPECT_LE(Apart(dataFrames[run].center(), levelFrames[run].center()), 3) << "run " << run + 1;
        EXPECT_TRUE(screen.contains(dataFrames[run].topLeft())) << "run " << run + 1;
    }
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(shot)));
}

// A page moved by the analyst opens there in the next run, frame and all.
TEST_F(PlacesTest, APageMovedByTheAnalystOpensThereNextRun) {
    std::vector<QPoint> frames;
    const QPoint moved(140, 90);
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        ASSERT_EQ(form.Name(), "SelectGeographyLevelDialog");
        frames.push_back(d.frameGeometry().topLeft());
        if (frames.size() == 1) {
            d.move(moved);
            QTRY_COMPARE_WITH_TIMEOUT(d.frameGeometry().topLeft(), moved, 2000);
        }
        Click(d, "CancelButton");
    };
    for (int run = 0; run < 3; ++run) window->RunCustomerProspecting();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_LE(Apart(frames[1], moved), 2);
    EXPECT_LE(Apart(frames[2], moved), 2);
    EXPECT_NEAR(session->pageSettings->GetProperty("FormLeft").ToDouble(), moved.x() * 15.0, 30.0);
    EXPECT_NEAR(session->pageSettings->GetProperty("FormTop").ToDouble(), moved.y() * 15.0, 30.0);
}

}  // namespace
