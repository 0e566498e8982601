// The desktop program on the offscreen platform: the demographic way is
// clicked through with the mouse and the keyboard, as a person would, and
// every page and the result map are saved as pictures.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gdal_priv.h>
#include <map>
#include <ogrsf_frmts.h>
#include <fstream>
#include <sstream>

#include "GuiSupport.h"
#include "PXAnalysis/WorkspaceUtils.h"
#include "PXCP/Register.h"
#include "app/gui/MainWindow.h"
#include "host/forms/qt/HelpWindow.h"
#include "host/gis/Map.h"
#include "host/gis/MapDrawing.h"
#include "pages/SelectDemographicDataDialog.h"

using namespace host;
namespace fs = std::filesystem;

using namespace pxtest;

namespace {

TEST_F(DesktopTest, DemographicWayClickedThroughDrawsTheResult) {
    std::vector<std::string> shown;
    auto& driver = window->Driver();
    driver.answerMessage = [](const std::string&, int style) { return (style & 7) == forms::vbYesNo ? forms::vbYes : forms::vbOK; };
    driver.onShown = [&](forms::Form& form, QDialog& d) {
        shown.push_back(form.Name());
        // The pages are placed from the layout numbers: the Next button of a
        // wizard page sits in the lower right part.
        if (auto* next = d.findChild<QPushButton*>("NextButton")) {
            EXPECT_GT(next->geometry().top(), d.height() / 2) << form.Name();
        }
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            ClickOption(Find<QRadioButton>(d, "DemographicDataOption"));
            d.grab().save(QString::fromStdString(ShotDir() + "/1-geography-level.png"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            ClickItem(d, "CategoryList", "Infant health");
            ClickOption(Find<QRadioButton>(d, "PercentagesOption"));
            EXPECT_TRUE(form.Ctl("PercentagesOption").Value());
            Type(d, "FloorText(0)", "0.3");
            // What was typed is what the page holds.
            EXPECT_EQ(form.Ctl("FloorText", 0).Text(), "0.3");
            d.grab().save(QString::fromStdString(ShotDir() + "/2-demographic-data.png"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectAnalysisNameDialog") {
            auto* next = Find<QPushButton>(d, "NextButton");
            EXPECT_FALSE(next && next->isEnabled());  // no name yet
            Type(d, "AnalysisNameText", "High SIDS from the desktop");
            d.grab().save(QString::fromStdString(ShotDir() + "/3-analysis-name.png"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectReportDialog") {
            d.grab().save(QString::fromStdString(ShotDir() + "/4-report.png"));
            Click(d, "NextButton");
        } else {
            ADD_FAILURE() << "unexpected page " << form.Name();
            d.reject();
        }
    };
    EXPECT_EQ(window->RunCustomerProspecting(), 1);
    EXPECT_EQ(shown, (std::vector<std::string>{"SelectGeographyLevelDialog", "SelectDemographicDataDialog",
                                               "SelectAnalysisNameDialog", "SelectReportDialog"}));
    // The result layer is in the map, drawn in green over the counties.
    gis::FeatureLayerPtr result;
    for (auto& l : session->application->FocusMap()->AllLayers())
        if (l->name == "High SIDS from the desktop") result = std::dynamic_pointer_cast<gis::FeatureLayer>(l);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->featureClass->RowCount(nullptr), 18);
    std::string mapShot = ShotDir() + "/5-result-map.png";
    window->grab().save(QString::fromStdString(mapShot));
    QImage map = window->Canvas().Picture();
    long green = 0;
    for (int y = 0; y < map.height(); y += 2)
        for (int x = 0; x < map.width(); x += 2) {
            QColor c = map.pixelColor(x, y);
            if (c.green() > 200 && c.red() < 80 && c.blue() < 80) ++green;
        }
    EXPECT_GT(green, 100);
    EXPECT_GT(fs::file_size(mapShot), 1000u);
}

// Under LANG=de_DE.UTF-8 the toolkit gives the C library decimal commas;
// the analyst types a comma and the clause still has a point.
TEST_F(DesktopTest, AFloorTypedWithADecimalCommaFindsItsAreas) {
    std::string clause;
    auto& driver = window->Driver();
    driver.answerMessage = [](const std::string&, int style) { return (style & 7) == forms::vbYesNo ? forms::vbYes : forms::vbOK; };
    driver.onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            ClickOption(Find<QRadioButton>(d, "DemographicDataOption"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            ClickItem(d, "CategoryList", "Infant health");
            Type(d, "FloorText(0)", "12,5");
            Click(d, "NextButton");
            clause = dynamic_cast<pxcp::SelectDemographicDataDialog&>(form).whereClause;
        } else if (form.Name() == "SelectAnalysisNameDialog") {
            Type(d, "AnalysisNameText", "Typed with a comma");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectReportDialog") {
            Click(d, "NextButton");
        } else {
            ADD_FAILURE() << "unexpected page " << form.Name();
            d.reject();
        }
    };
    EXPECT_EQ(window->RunCustomerProspecting(), 1);
    EXPECT_EQ(clause, " (SID74>=12.50) ");
    for (auto& m : forms::MessageLog()) ADD_FAILURE() << "message: " << m.text;
    // As many counties as GDAL itself finds with that clause.
    GDALDatasetUniquePtr nc(GDALDataset::Open((SampleDir() + "/nc.shp").c_str(), GDAL_OF_VECTOR));
    ASSERT_TRUE(nc);
    OGRLayer* counties = nc->GetLayer(0);
    counties->SetAttributeFilter("SID74 >= 12.5");
    long expected = static_cast<long>(counties->GetFeatureCount());
    EXPECT_GT(expected, 0);
    gis::FeatureLayerPtr result;
    for (auto& l : session->application->FocusMap()->AllLayers())
        if (l->name == "Typed with a comma") result = std::dynamic_pointer_cast<gis::FeatureLayer>(l);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->featureClass->RowCount(nullptr), expected);
}

TEST_F(DesktopTest, CancellingThePageLeavesTheMapAlone) {
    auto before = session->application->FocusMap()->AllLayers().size();
    window->Driver().onShown = [](forms::Form&, QDialog& d) { Click(d, "CancelButton"); };
    EXPECT_NE(window->RunCustomerProspecting(), 1);
    EXPECT_EQ(session->application->FocusMap()->AllLayers().size(), before);
}

TEST_F(DesktopTest, HouseholdPagesComeUpPlaced) {
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("PLEXA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    std::vector<std::string> shown;
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        shown.push_back(form.Name());
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            auto* o = Find<QRadioButton>(d, "HouseholdDataOption");
            ASSERT_TRUE(o && o->isEnabled() && o->isVisible());
            ClickOption(o);
            EXPECT_TRUE(form.Ctl("HouseholdDataOption").Value());
            Click(d, "NextButton");
        } else if (form.Name() == "LoginToQuillonDialog") {
            EXPECT_FALSE(Find<QPushButton>(d, "NextButton")->isEnabled());
            EXPECT_EQ(Find<QLineEdit>(d, "PasswordText")->echoMode(), QLineEdit::Password);
            Type(d, "UserNameText", "demo");
            Type(d, "PasswordText", "demo");
            d.grab().save(QString::fromStdString(ShotDir() + "/7-service-login.png"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectHouseholdDataDialog") {
            ClickItem(d, "CategoryList", "Household income");
            ClickItem(d, "TargetList", "$50,000 to $99,999");
            Type(d, "MinimumTargetText", "-1");
            EXPECT_FALSE(Find<QPushButton>(d, "NextButton")->isEnabled());
            Type(d, "MinimumTargetText", "25");
            d.grab().save(QString::fromStdString(ShotDir() + "/8-household-data.png"));
            Click(d, "CancelButton");
        } else {
            d.reject();
        }
    };
    EXPECT_NE(window->RunCustomerProspecting(), 1);
    EXPECT_EQ(shown, (std::vector<std::string>{"SelectGeographyLevelDialog", "LoginToQuillonDialog",
                                               "SelectHouseholdDataDialog"}));
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("PLEXA_REGISTRY");
}

TEST_F(DesktopTest, TheCustomerProfileOpensFromTheDemographicPage) {
    std::vector<std::string> shown;
    long gridRows = -1;
    window->Driver().answerMessage = [](const std::string&, int) { return forms::vbOK; };
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        shown.push_back(form.Name());
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            Click(d, "ProfileButton");  // the profile dialog runs on top, then the page is back
            if (d.isVisible()) Click(d, "CancelButton");
        } else if (form.Name() == "CustomerProfileDialog") {
            if (auto* grid = Find<QTableWidget>(d, "CharacteristicsGrid")) gridRows = grid->rowCount();
            d.grab().save(QString::fromStdString(ShotDir() + "/9-customer-profile.png"));
            Click(d, "CancelButton");
        } else {
            d.reject();
        }
    };
    EXPECT_NE(window->RunCustomerProspecting(), 1);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown[2], "CustomerProfileDialog");
    EXPECT_EQ(gridRows, 4);  // the column titles, then one row for each characteristic of the level
}

TEST_F(DesktopTest, AProfileIsComputedAndPrintedFromTheDesktop) {
    auto customers = pxcp::OpenLayerFile(pxtest::SampleDir() + "/zipcodes.shp");
    ASSERT_TRUE(customers);
    session->application->FocusMap()->AddLayer(customers);
    std::string pdf = dir / "profile.pdf";
    int profileShown = 0, pageShown = 0;
    auto& driver = window->Driver();
    driver.answerMessage = [](const std::string&, int) { return forms::vbOK; };
    driver.answerFile = [&](const forms::FileDialogRequest&) { return std::optional<std::string>(pdf); };
    driver.onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            if (++pageShown == 1) Click(d, "ProfileButton");
            if (d.isVisible() && pageShown > 1) Click(d, "CancelButton");
        } else if (form.Name() == "CustomerProfileDialog") {
            if (++profileShown == 1) {
                Click(d, "SelectAllButton");
                Click(d, "NewButton");
            } else {
                d.grab().save(QString::fromStdString(ShotDir() + "/10-computed-profile.png"));
                Click(d, "PrintButton");
                Click(d, "CancelButton");
            }
        } else if (form.Name() == "CustomerProfileNew") {
            // The customers are the ZIP-code points: the point layer is offered first.
            if (auto* combo = Find<QComboBox>(d, "cmbCustomers")) {
                EXPECT_EQ(combo->currentText().toStdString(), "zipcodes");
                EXPECT_GE(combo->findText("NC Counties"), 0);
            }
            d.grab().save(QString::fromStdString(ShotDir() + "/11-new-profile.png"));
            Click(d, "ProfileButton");
        } else {
            d.reject();
        }
    };
    EXPECT_NE(window->RunCustomerProspecting(), 1);
    EXPECT_EQ(profileShown, 2);
    ASSERT_TRUE(fs::exists(pdf));
    std::string text = dir / "profile.txt";
    ASSERT_EQ(std::system(("pdftotext -layout '" + pdf + "' '" + text + "'").c_str()), 0);
    std::ifstream in(text);
    std::stringstream read;
    read << in.rdbuf();
    EXPECT_NE(read.str().find("AVERAGE CUSTOMER PROFILE"), std::string::npos);
    EXPECT_NE(read.str().find("% chance"), std::string::npos);
}

TEST_F(DesktopTest, TheMapZoomsAndPansUnderTheHand) {
    auto& canvas = window->Canvas();
    gis::Envelope before = canvas.ViewExtent();
    double px = canvas.UnitsPerPixel();
    gis::PictureLayout layout = canvas.Layout();
    ASSERT_FALSE(layout.legend.Empty());  // the window shows the whole composition
    QPoint corner(int(layout.map.x + layout.map.w / 4), int(layout.map.y + layout.map.h / 4));
    double mx, my;
    layout.ToMap(corner.x(), corner.y(), mx, my);
    canvas.ZoomAt(corner, 0.5);
    gis::Envelope after = canvas.ViewExtent();
    EXPECT_NEAR(after.Width(), before.Width() / 2, before.Width() * 1e-6);
    // The point under the hand stays where it was.
    double ax, ay;
    canvas.Layout().ToMap(corner.x(), corner.y(), ax, ay);
    EXPECT_NEAR(ax, mx, px);
    EXPECT_NEAR(ay, my, px);
    // Dragging right moves the view left, by as many map units as pixels.
    QPoint from(int(layout.map.x + layout.map.w / 2), int(layout.map.y + layout.map.h / 2));
    QTest::mousePress(&canvas, Qt::LeftButton, {}, from);
    QTest::mouseMove(&canvas, from + QPoint(50, 0));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, from + QPoint(50, 0));
    gis::Envelope panned = canvas.ViewExtent();
    EXPECT_NEAR(panned.xmin, after.xmin - 50 * canvas.UnitsPerPixel(), canvas.UnitsPerPixel());
    EXPECT_NEAR(panned.ymin, after.ymin, canvas.UnitsPerPixel());
}

TEST_F(DesktopTest, ExportMapWritesTheCanvasAsPictureOrPage) {
    auto& canvas = window->Canvas();
    canvas.Redraw();
    std::string png = dir / "export.png", pdf = dir / "export.pdf";
    ASSERT_TRUE(window->ExportMap(QString::fromStdString(png)));
    ASSERT_TRUE(window->ExportMap(QString::fromStdString(dir / "EXPORT.PDF")));
    fs::rename(dir / "EXPORT.PDF", pdf);
    // The picture is the canvas, pixel for pixel.
    QImage written(QString::fromStdString(png));
    QImage shown = canvas.Picture();
    ASSERT_EQ(written.size(), shown.size());
    EXPECT_TRUE(written.convertToFormat(QImage::Format_ARGB32) == shown.convertToFormat(QImage::Format_ARGB32));
    // Any other name becomes a PNG picture.
    ASSERT_TRUE(window->ExportMap(QString::fromStdString(dir / "plain")));
    EXPECT_TRUE(fs::exists(dir / "plain.png"));
    if (!fs::exists("/usr/bin/pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    std::string text = dir / "export.txt";
    ASSERT_EQ(std::system(("pdftotext '" + pdf + "' '" + text + "'").c_str()), 0);
    std::stringstream read;
    read << std::ifstream(text).rdbuf();
    EXPECT_NE(read.str().find("North Carolina"), std::string::npos) << read.str();  // the title
    EXPECT_NE(read.str().find("NC Counties"), std::string::npos) << read.str();     // the legend
    EXPECT_NE(read.str().find("Data: nc.shp"), std::string::npos) << read.str();    // the credit
}

TEST_F(DesktopTest, TheProgressDialogCancelsLongWork) {
    FunctionRunner::SetSink(forms::MakeQtProgress(window.get()));
    bool clicked = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (auto* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) {
                EXPECT_EQ(p->labelText().toStdString(), "Working...");
                p->grab().save(QString::fromStdString(ShotDir() + "/6-progress.png"));
                if (auto* cancel = p->findChild<QPushButton*>()) QTest::mouseClick(cancel, Qt::LeftButton);
                clicked = true;
                poll.stop();
            }
    });
    poll.start(100);
    // A function that would run for ever unless cancelled.
    StepsFunction work([](long) {
        QTest::qWait(1);
        return true;
    });
    EXPECT_EQ(FunctionRunner().Run(work, "Clock AVI", "Analysis", "Working..."), FunctionRunner::kCancelled);
    EXPECT_TRUE(clicked);
    EXPECT_GT(work.steps, 0);
    FunctionRunner::SetSink(nullptr);
}

TEST_F(DesktopTest, MessageBoxesAnswerWithThePlatformCodes) {
    auto& driver = window->Driver();
    QTimer::singleShot(100, [] {
        for (auto* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                EXPECT_EQ(box->text().toStdString(), "Replace existing file?");
                box->button(QMessageBox::No)->click();
            }
    });
    forms::SetDriver(std::shared_ptr<forms::FormsDriver>(&driver, [](forms::FormsDriver*) {}));
    EXPECT_EQ(forms::MsgBox("Replace existing file?", forms::vbQuestion | forms::vbYesNo, "Table"), forms::vbNo);
    EXPECT_EQ(forms::MessageLog().back().answer, forms::vbNo);
}

// Every Help button of the pages opens the help window at its topic, and
// the window stays in front of the modal page that asked.
TEST_F(DesktopTest, EveryHelpButtonOpensItsTopic) {
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("PLEXA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    std::map<std::string, std::string> topics;
    bool household = false;
    auto help = [&](forms::Form& form, QDialog& d) {
        Click(d, "HelpButton");
        auto* w = forms::CurrentHelpWindow();
        ASSERT_TRUE(w && w->isVisible()) << "no help from " << form.Name();
        topics[form.Name()] = w->TopicId();
        EXPECT_FALSE(w->toPlainText().isEmpty());
        if (form.Name() == "CustomerProfileDialog") w->grab().save(QString::fromStdString(ShotDir() + "/help.png"));
        w->close();
    };
    window->Driver().answerMessage = [](const std::string&, int) { return forms::vbOK; };
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        help(form, d);
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            if (household) ClickOption(Find<QRadioButton>(d, "HouseholdDataOption"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            Click(d, "ProfileButton");
            if (d.isVisible()) Click(d, "CancelButton");
        } else {
            d.reject();
        }
    };
    window->RunCustomerProspecting();
    household = true;
    window->RunCustomerProspecting();
    EXPECT_EQ(topics["SelectGeographyLevelDialog"], "ABOUT_CUSTOMER_PROSPECTING");
    EXPECT_EQ(topics["SelectDemographicDataDialog"], "ABOUT_CUSTOMER_PROSPECTING");
    EXPECT_EQ(topics["CustomerProfileDialog"], "ABOUT_CUSTOMER_PROFILE");
    EXPECT_EQ(topics["LoginToQuillonDialog"], "ABOUT_CUSTOMER_PROSPECTING");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("PLEXA_REGISTRY");
}

}  // namespace
