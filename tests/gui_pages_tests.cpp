// The pages and dialogs of the desktop as a person meets them: analyses are
// opened again, read and removed through Analysis > Open Analysis..., the
// query page is resized, every page is checked for controls that cover one
// another or text that does not fit, pages open where the last one stood,
// and what goes wrong is told in a dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "CustomerProfile/CustomerProfilePopulate.h"
#include "PXCP/PXAnalysisUtils.h"
#include "GuiSupport.h"
#include "app/gui/AnalysesDialog.h"
#include "app/gui/DesktopErrors.h"
#include "host/framework/AnalysisList.h"
#include "host/framework/ErrorHandler.h"
#include "host/gis/Map.h"
#include "host/platform/Locale.h"
#include "host/platform/Platform.h"
#include "pages/SelectOpenHHWayDialog.h"
#include "pages/SmallPages.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

void Shot(QWidget& w, const std::string& name) { w.grab().save(QString::fromStdString(ShotDir() + "/" + name + ".png")); }

// Calls act once a visible top-level dialog of that object name is up; the
// caller is then inside the dialog's own event loop. A dialog that does not
// come within ten seconds is a failure, and no later dialog is acted on.
void WhenUp(const QString& name, std::function<void(QDialog&)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, name, act, tries] {
        for (auto* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && d->objectName() == name) {
                timer->stop();
                timer->deleteLater();
                act(*d);
                return;
            }
        if (++*tries > 200) {
            ADD_FAILURE() << "no " << name.toStdString() << " came up";
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(50);
}

std::string Text(const QString& s) { return s.toStdString(); }

// Analysis > Open Analysis... with the keyboard: Alt+A, then O.
void OpenAnalysisByKeyboard(QMainWindow& w) {
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_A, Qt::AltModifier);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_TRUE(menu) << "Alt+A opened no menu";
    QTest::keyClick(menu, Qt::Key_O);
}

// Where the placement of a page would trouble a reader: controls that cover
// each other, controls that sit on a frame's title or border, and captions
// that do not fit their control.
std::vector<std::string> PlacementProblems(QDialog& d) {
    std::vector<std::string> out;
    std::vector<QWidget*> controls;
    std::vector<QGroupBox*> frames;
    for (auto* w : d.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(&d) || w->objectName().isEmpty()) continue;
        if (auto* g = qobject_cast<QGroupBox*>(w)) frames.push_back(g);
        else controls.push_back(w);
    }
    auto name = [](QWidget* w) { return Text(w->objectName()); };
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            if (controls[i]->geometry().intersects(controls[j]->geometry()))
                out.push_back(name(controls[i]) + " covers " + name(controls[j]));
    for (auto* f : frames) {
        QFontMetrics fm(f->font());
        QRect box = f->geometry();
        bool titled = !f->title().isEmpty();
        QRect title(box.x(), box.y(), box.width(), titled ? fm.height() : 0);
        QRect inside = box.adjusted(2, titled ? fm.height() + 1 : 2, -2, -2);
        if (titled && fm.horizontalAdvance(f->title()) + 16 > box.width()) out.push_back(name(f) + "'s title is cut");
        for (auto* c : controls) {
            QRect r = c->geometry();
            if (!r.intersects(box)) continue;
            if (titled && r.intersects(title)) out.push_back(name(c) + " sits on the title of " + name(f));
            else if (!inside.contains(r)) out.push_back(name(c) + " sits on the border of " + name(f));
        }
    }
    for (auto* c : controls) {
        QFontMetrics fm(c->font());
        auto plain = [](QString t) { return t.replace("&&", "\x01").remove('&').replace("\x01", "&"); };
        if (auto* l = qobject_cast<QLabel*>(c); l && !l->text().isEmpty()) {
            QRect need = fm.boundingRect(QRect(0, 0, l->width(), 10000), Qt::TextWordWrap, l->text());
            if (need.height() > l->height() || need.width() > l->width())
                out.push_back(name(c) + " is too small for \"" + Text(l->text()) + "\" (" + std::to_string(fm.horizontalAdvance(l->text())) +
                              " pixels wide, " + std::to_string(l->width()) + " there)");
        } else if (auto* b = qobject_cast<QAbstractButton*>(c); b && !b->text().isEmpty()) {
            int need = fm.horizontalAdvance(plain(b->text()));
            if (qobject_cast<QRadioButton*>(b))
                need += d.style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) + d.style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
            else if (qobject_cast<QCheckBox*>(b))
                need += d.style()->pixelMetric(QStyle::PM_IndicatorWidth) + d.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
            else
                need += 8;
            if (need > b->width())
                out.push_back(name(c) + " is too narrow for \"" + Text(b->text()) + "\" (needs " + std::to_string(need) + " pixels, has " +
                              std::to_string(b->width()) + ")");
            if (fm.height() > b->height()) out.push_back(name(c) + " is too low for its text");
        } else if (auto* e = qobject_cast<QLineEdit*>(c); e && fm.height() + 2 > e->height()) {
            out.push_back(name(c) + " is too low for its text");
        }
    }
    return out;
}

void ExpectPlaced(forms::Form& form, QDialog& d) {
    for (auto& p : PlacementProblems(d)) ADD_FAILURE() << form.Name() << ": " << p;
}

class PagesTest : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped()) return;
        window->Driver().answerMessage = [this](const std::string& text, int style) {
            questions.push_back(text);
            return (style & 7) == forms::vbYesNo ? answer : forms::vbOK;
        };
    }
    // A demographic analysis of the counties with a high SIDS percentage,
    // clicked through with its name and comment.
    long RunDemographic(const std::string& name, const std::string& comment, const QString& floor = "0.3") {
        window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
            if (form.Name() == "SelectGeographyLevelDialog") {
                ClickItem(d, "GeographyLevelsList", "Counties");
                ClickOption(Find<QRadioButton>(d, "DemographicDataOption"));
                Click(d, "NextButton");
            } else if (form.Name() == "SelectDemographicDataDialog") {
                ClickItem(d, "CategoryList", "Infant health");
                ClickOption(Find<QRadioButton>(d, "PercentagesOption"));
                Type(d, "FloorText(0)", floor);
                Click(d, "NextButton");
            } else if (form.Name() == "SelectAnalysisNameDialog") {
                Type(d, "AnalysisNameText", QString::fromStdString(name));
                if (auto* c = Find<QPlainTextEdit>(d, "AnalysisCommentText")) {
                    c->setFocus();
                    QTest::keyClicks(c, QString::fromStdString(comment));
                }
                Click(d, "NextButton");
            } else if (form.Name() == "SelectReportDialog") {
                Click(d, "NextButton");
            } else {
                d.reject();
            }
        };
        return window->RunCustomerProspecting();
    }
    int answer = forms::vbYes;
    std::vector<std::string> questions;
};

// ---------------- Open Analysis ----------------

TEST_F(PagesTest, ADemographicAnalysisOpensAgainWithItsQueryAndReport) {
    ASSERT_EQ(RunDemographic("High SIDS", "counties to visit first"), 1);
    ASSERT_TRUE(window->LastRun().ok);
    // The status bar tells the count and where the report is.
    std::string status = Text(window->statusBar()->currentMessage());
    EXPECT_NE(status.find("18 areas found"), std::string::npos) << status;
    EXPECT_NE(status.find(session->dataManager->GetAnalysis("High SIDS")->Folder() + "Report.txt"), std::string::npos) << status;

    std::string reportText;
    long reportRows = -1;
    WhenUp("AnalysesDialog", [&](QDialog& d) {
        auto* table = Find<QTableWidget>(d, "AnalysesTable");
        ASSERT_TRUE(table);
        ASSERT_EQ(table->rowCount(), 1);
        EXPECT_EQ(Text(table->item(0, 0)->text()), "High SIDS");
        EXPECT_EQ(Text(table->item(0, 1)->text()), "Demographic");
        EXPECT_EQ(Text(table->item(0, 2)->text()), "Counties");
        EXPECT_EQ(table->item(0, 3)->text().size(), 16);  // YYYY-MM-DD HH:MM
        EXPECT_EQ(Text(table->item(0, 4)->text()), "18");
        EXPECT_EQ(Text(table->item(0, 5)->text()), "counties to visit first");
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 0)).center());
        Shot(d, "open-analysis");
        WhenUp("ReportView", [&](QDialog& r) {
            if (auto* t = Find<QPlainTextEdit>(r, "ReportText")) reportText = Text(t->toPlainText());
            if (auto* t = Find<QTableWidget>(r, "ReportTable")) reportRows = t->rowCount();
            Shot(r, "analysis-report");
            Click(r, "CloseButton");
        });
        Click(d, "ShowReportButton");
        Click(d, "OpenButton");
    });
    // Re-opened, the data page comes up with the query the analysis was run with.
    std::vector<std::string> shown;
    bool queryShown = false;
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        shown.push_back(form.Name());
        if (form.Name() == "SelectGeographyLevelDialog") {
            EXPECT_EQ(form.Ctl("GeographyLevelsList").ListText(), "Counties");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            EXPECT_EQ(Text(Find<QLineEdit>(d, "FloorText(0)")->text()), "0.3");
            EXPECT_TRUE(Find<QRadioButton>(d, "PercentagesOption")->isChecked());
            Shot(d, "reopened-demographic-data");
            Click(d, "ShowButton");
            Click(d, "NextButton");
        } else if (form.Name() == "ShowQueryDialog") {
            queryShown = form.Ctl("QueryText").Text().find("0.3") != std::string::npos;
            Click(d, "OkButton");
        } else if (form.Name() == "SelectAnalysisNameDialog") {
            EXPECT_EQ(Text(Find<QLineEdit>(d, "AnalysisNameText")->text()), "High SIDS");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectReportDialog") {
            Click(d, "NextButton");
        } else {
            d.reject();
        }
    };
    OpenAnalysisByKeyboard(*window);
    EXPECT_NE(reportText.find("Areas:    18"), std::string::npos) << reportText;
    EXPECT_EQ(reportRows, 18);
    EXPECT_TRUE(queryShown);
    EXPECT_EQ(shown, (std::vector<std::string>{"SelectGeographyLevelDialog", "SelectDemographicDataDialog", "ShowQueryDialog",
                                               "SelectAnalysisNameDialog", "SelectReportDialog"}));
    // The new run replaced the old analysis: one analysis, one layer of it.
    ASSERT_TRUE(window->LastRun().ok) << window->LastRun().errorText;
    EXPECT_EQ(session->dataManager->AnalysisNames(), std::vector<std::string>{"High SIDS"});
    auto a = session->dataManager->GetAnalysis("High SIDS");
    EXPECT_EQ(LayersOfAnalysis(*session->application->FocusMap(), *a).size(), 1u);
    EXPECT_FALSE(fs::exists(session->dataManager->AnalysesRoot() + ".replaced/" + fs::path(a->Folder()).parent_path().filename().string()));
}

TEST_F(PagesTest, RemovingAnAnalysisAsksAndTakesItsLayerOffTheMap) {
    ASSERT_EQ(RunDemographic("To go", ""), 1);
    auto a = session->dataManager->GetAnalysis("To go");
    ASSERT_TRUE(a);
    std::string folder = a->Folder();
    ASSERT_EQ(LayersOfAnalysis(*session->application->FocusMap(), *a).size(), 1u);
    size_t layers = session->application->FocusMap()->AllLayers().size();
    int rowsAfter = -1;
    WhenUp("AnalysesDialog", [&](QDialog& d) {
        auto* table = Find<QTableWidget>(d, "AnalysesTable");
        ASSERT_TRUE(table && table->rowCount() == 1);
        EXPECT_EQ(Text(table->item(0, 5)->text()), "");  // no comment given
        answer = forms::vbNo;
        Click(d, "RemoveButton");
        EXPECT_TRUE(session->dataManager->AnalysisExists("To go"));
        EXPECT_EQ(table->rowCount(), 1);
        answer = forms::vbYes;
        Click(d, "RemoveButton");
        rowsAfter = table->rowCount();
        // With nothing selected, nothing can be opened or removed.
        EXPECT_FALSE(Find<QPushButton>(d, "OpenButton")->isEnabled());
        EXPECT_FALSE(Find<QPushButton>(d, "RemoveButton")->isEnabled());
        Click(d, "CloseButton");
    });
    OpenAnalysisByKeyboard(*window);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_NE(questions[0].find("\"To go\""), std::string::npos);
    EXPECT_EQ(rowsAfter, 0);
    EXPECT_FALSE(session->dataManager->AnalysisExists("To go"));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(session->application->FocusMap()->AllLayers().size(), layers - 1);
}

TEST_F(PagesTest, AHouseholdAnalysisIsReopenedWithItsTable) {
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("PLEXA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    ServiceProcess service({"--job-seconds", "0"});
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            ClickOption(Find<QRadioButton>(d, "HouseholdDataOption"));
            Click(d, "NextButton");
        } else if (form.Name() == "LoginToQuillonDialog") {
            Type(d, "UserNameText", "demo");
            Type(d, "PasswordText", "demo");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectHouseholdDataDialog") {
            ClickItem(d, "CategoryList", "Household income");
            ClickItem(d, "TargetList", "$50,000 to $99,999");
            ClickOption(Find<QRadioButton>(d, "PercentageOption"));
            Type(d, "MinimumTargetText", "15");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectAnalysisNameDialog") {
            Type(d, "AnalysisNameText", "Income");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectReportDialog") {
            Click(d, "NextButton");
        } else {
            d.reject();
        }
    };
    ASSERT_EQ(window->RunCustomerProspecting(), 1);
    ASSERT_TRUE(window->LastRun().ok) << window->LastRun().errorText;
    auto first = session->dataManager->GetAnalysis("Income");
    ASSERT_TRUE(first && fs::exists(first->Folder() + "tmp.dbf"));
    long areas = window->LastRun().areas;
    EXPECT_GT(areas, 0);

    std::vector<std::string> shown;
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        shown.push_back(form.Name());
        if (form.Name() == "SelectGeographyLevelDialog") {
            Click(d, "NextButton");
        } else if (form.Name() == "SelectOpenHHWayDialog") {
            // The table the service left in the folder is offered.
            ClickOption(Find<QRadioButton>(d, "LinkDBFRBT"));
            EXPECT_EQ(Text(Find<QLineEdit>(d, "DBFFileText")->text()), first->Folder() + "tmp.dbf");
            ExpectPlaced(form, d);
            Shot(d, "open-way");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectReportDialog") {
            Click(d, "NextButton");
        } else {
            d.reject();
        }
    };
    WhenUp("AnalysesDialog", [&](QDialog& d) {
        auto* table = Find<QTableWidget>(d, "AnalysesTable");
        ASSERT_TRUE(table && table->rowCount() == 1);
        EXPECT_EQ(Text(table->item(0, 1)->text()), "Household");
        // A double click opens the analysis.
        QRect cell = table->visualItemRect(table->item(0, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    });
    OpenAnalysisByKeyboard(*window);
    EXPECT_EQ(shown, (std::vector<std::string>{"SelectGeographyLevelDialog", "SelectOpenHHWayDialog", "SelectReportDialog"}));
    ASSERT_TRUE(window->LastRun().ok) << window->LastRun().errorText;
    // A linked table has no minimum: every area it counts is kept.
    long linkedAreas = window->LastRun().areas;
    EXPECT_GE(linkedAreas, areas);
    auto again = session->dataManager->GetAnalysis("Income");
    ASSERT_TRUE(again);
    EXPECT_TRUE(fs::exists(again->Folder() + "tmp.dbf"));
    // Still a household analysis in the list, to be opened again.
    EXPECT_EQ(Summarize(*again).kind, "Household");

    // A table that is no table: the run fails, the analyst is told in a
    // dialog, and the analysis is back as it was.
    std::ofstream(dir / "bad.dbf") << "not a dBASE table";
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            Click(d, "NextButton");
        } else if (form.Name() == "SelectOpenHHWayDialog") {
            ClickOption(Find<QRadioButton>(d, "LinkDBFRBT"));
            Type(d, "DBFFileText", QString::fromStdString(dir / "bad.dbf"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectReportDialog") {
            Click(d, "NextButton");
        } else {
            d.reject();
        }
    };
    size_t messages = forms::MessageLog().size();
    WhenUp("AnalysesDialog", [&](QDialog& d) { Click(d, "OpenButton"); });
    OpenAnalysisByKeyboard(*window);
    EXPECT_FALSE(window->LastRun().ok);
    bool critical = false;
    for (size_t i = messages; i < forms::MessageLog().size(); ++i)
        critical = critical || (forms::MessageLog()[i].style & 0x70) == forms::vbCritical;
    EXPECT_TRUE(critical);
    EXPECT_EQ(Text(window->statusBar()->currentMessage()).rfind("The analysis failed", 0), 0u)
        << Text(window->statusBar()->currentMessage());
    auto kept = session->dataManager->GetAnalysis("Income");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(fs::exists(kept->Folder() + "tmp.dbf"));
    EXPECT_TRUE(fs::exists(kept->Folder() + "analysis.xml"));
    // Its layer is back in the map, drawn from its own files.
    auto back = LayersOfAnalysis(*session->application->FocusMap(), *kept);
    ASSERT_EQ(back.size(), 1u);
    auto layer = std::dynamic_pointer_cast<gis::FeatureLayer>(back.front());
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->featureClass->RowCount(nullptr), linkedAreas);
    Shot(*window, "reopen-failed-map");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("PLEXA_REGISTRY");
}

// ---------------- the pages ----------------

// The query page grows with the analyst's hand and snaps back to its
// smallest size; its text and OK button follow.
TEST_F(PagesTest, TheQueryPageResizesAndItsControlsFollow) {
    QSize before, grown, shrunk, afterLongText;
    QRect text, ok, textShrunk;
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            ClickItem(d, "CategoryList", "Infant health");
            Type(d, "FloorText(0)", "2");
            Click(d, "ShowButton");
            Click(d, "CancelButton");
        } else if (form.Name() == "ShowQueryDialog") {
            before = d.size();
            EXPECT_LT(d.minimumWidth(), d.maximumWidth());  // the window can be resized
            ExpectPlaced(form, d);
            Shot(d, "query-page");
            d.resize(600, 400);
            grown = d.size();
            text = Find<QPlainTextEdit>(d, "QueryText")->geometry();
            ok = Find<QPushButton>(d, "OkButton")->geometry();
            Shot(d, "query-page-grown");
            d.resize(100, 80);
            shrunk = d.size();
            textShrunk = Find<QPlainTextEdit>(d, "QueryText")->geometry();
            // A long description scrolls; the page does not grow.
            form.Ctl("QueryText").SetText(std::string(5000, 'x'));
            window->Driver().Changed(form);
            afterLongText = d.size();
            Click(d, "OkButton");
        } else {
            d.reject();
        }
    };
    window->RunCustomerProspecting();
    ASSERT_TRUE(before.isValid());
    EXPECT_EQ(grown, QSize(600, 400));
    // Rule of the page, in pixels of 15 twips: the text is 480 narrower and
    // 1185 lower than the page (whose height counts its caption bar), the
    // button 1425 from the right and 915 from the bottom.
    int caption = platform::Screen().captionHeightPixels;
    EXPECT_EQ(text, QRect(8, 8, 600 - 32, 400 + caption - 79));
    EXPECT_EQ(ok.topLeft(), QPoint(600 - 95, 400 + caption - 61));
    EXPECT_EQ(shrunk, QSize(361, 248 - caption));  // 5415 x 3720
    EXPECT_EQ(textShrunk.size(), QSize(329, 169));
    EXPECT_EQ(afterLongText, shrunk);
}

// Every page of both ways, and the small pages on the way, checked for
// controls that cover each other or whose text does not fit.
TEST_F(PagesTest, NoPageHasControlsOverOneAnother) {
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("PLEXA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    std::set<std::string> checked;
    bool household = false;
    window->Driver().answerFile = [](const forms::FileDialogRequest&) { return std::optional<std::string>(); };
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        checked.insert(form.Name());
        ExpectPlaced(form, d);
        Shot(d, "placed-" + form.Name());
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            ClickOption(Find<QRadioButton>(d, household ? "HouseholdDataOption" : "DemographicDataOption"));
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            ClickItem(d, "CategoryList", "Infant health");
            ExpectPlaced(form, d);  // with the targets of a category shown
            Click(d, "FileButton");
            Click(d, "ShowButton");
            Click(d, "ProfileButton");
            Type(d, "FloorText(0)", "1");
            Click(d, "NextButton");
        } else if (form.Name() == "LoginToQuillonDialog") {
            Type(d, "UserNameText", "demo");
            Type(d, "PasswordText", "demo");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectHouseholdDataDialog") {
            ClickItem(d, "CategoryList", "Household income");
            ExpectPlaced(form, d);
            Click(d, "CancelButton");
        } else if (form.Name() == "SelectAnalysisNameDialog") {
            Type(d, "AnalysisNameText", "Placed");
            Click(d, "NextButton");
        } else if (form.Name() == "FileOptionDialog" || form.Name() == "SelectReportDialog" ||
                   form.Name() == "CustomerProfileDialog") {
            Click(d, "CancelButton");
        } else if (form.Name() == "ShowQueryDialog") {
            Click(d, "OkButton");
        } else {
            d.reject();
        }
    };
    window->RunCustomerProspecting();
    household = true;
    window->RunCustomerProspecting();
    // The pages only reached from elsewhere are shown on their own.
    forms::SetDriver(std::shared_ptr<forms::FormsDriver>(&window->Driver(), [](forms::FormsDriver*) {}));
    pxcp::SelectOpenHHWayDialog openWay;
    openWay.InitializeDialog();
    openWay.ShowModal();
    pxcp::CustomerProfilePopulate populate;
    populate.ShowModal();
    for (const char* page : {"SelectGeographyLevelDialog", "SelectDemographicDataDialog", "FileOptionDialog", "ShowQueryDialog",
                             "CustomerProfileDialog", "SelectAnalysisNameDialog", "SelectReportDialog", "LoginToQuillonDialog",
                             "SelectHouseholdDataDialog", "SelectOpenHHWayDialog", "CustomerProfilePopulate"})
        EXPECT_TRUE(checked.count(page)) << page << " was not shown";
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("PLEXA_REGISTRY");
}

// The analyst moves the first page; the next one opens centred on where it
// stood, and no page changes its size while it is used.
TEST_F(PagesTest, APageOpensWhereTheLastOneStood) {
    QRect geography, data, moved, name;
    QSize dataBefore, dataAfter;
    window->Driver().onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            d.move(150, 100);
            ClickItem(d, "GeographyLevelsList", "Counties");
            geography = d.frameGeometry();
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            data = d.frameGeometry();
            dataBefore = d.size();
            ClickItem(d, "CategoryList", "Infant health");
            ClickOption(Find<QRadioButton>(d, "PercentagesOption"));
            Type(d, "FloorText(0)", "0.5");
            Click(d, "ShowButton");
            dataAfter = d.size();
            d.move(d.x() + 30, d.y() + 12);
            moved = d.frameGeometry();
            Click(d, "NextButton");
        } else if (form.Name() == "ShowQueryDialog") {
            Click(d, "OkButton");
        } else if (form.Name() == "SelectAnalysisNameDialog") {
            name = d.frameGeometry();
            Click(d, "CancelButton");
        } else {
            d.reject();
        }
    };
    window->RunCustomerProspecting();
    ASSERT_FALSE(data.isNull());
    ASSERT_FALSE(name.isNull());
    EXPECT_LE((data.center() - geography.center()).manhattanLength(), 2) << "data page not centred on the level page";
    EXPECT_LE((name.center() - moved.center()).manhattanLength(), 2) << "name page not centred where the data page was moved";
    EXPECT_EQ(dataBefore, dataAfter);
    // The place travels in the page settings, in twips.
    EXPECT_NEAR(session->pageSettings->GetProperty("FormLeft").ToDouble(), name.x() * 15.0, 15.0);
}

// On a Japanese locale the pages' fonts get the code page's face and size.
TEST_F(PagesTest, TheFontsOfTheCodePageReachTheWidgets) {
    auto saved = platform::CurrentLocale();
    platform::UserLocale japanese = saved;
    japanese.lcid = 1041;
    platform::SetCurrentLocale(japanese);
    QFont face, button;
    window->Driver().onShown = [&](forms::Form&, QDialog& d) {
        face = Find<QPlainTextEdit>(d, "QueryText")->font();
        button = Find<QPushButton>(d, "OkButton")->font();
        Shot(d, "query-page-1041");
        Click(d, "OkButton");
    };
    forms::SetDriver(std::shared_ptr<forms::FormsDriver>(&window->Driver(), [](forms::FormsDriver*) {}));
    pxcp::ShowQueryDialog page;
    page.ShowModal();
    platform::SetCurrentLocale(saved);
    EXPECT_EQ(Text(face.family()), "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
    EXPECT_NEAR(face.pointSizeF(), QApplication::font().pointSizeF() * 9 / 8, 0.01);
    EXPECT_EQ(button.family(), face.family());
    // Back on an English locale the design font is the desktop's.
    window->Driver().onShown = [&](forms::Form&, QDialog& d) {
        face = Find<QPlainTextEdit>(d, "QueryText")->font();
        Click(d, "OkButton");
    };
    pxcp::ShowQueryDialog english;
    english.ShowModal();
    EXPECT_EQ(face.family(), QApplication::font().family());
}

// ---------------- progress and errors ----------------

TEST_F(PagesTest, TheProgressDialogShowsCaptionMessageAndHowFar) {
    FunctionRunner::SetSink(forms::MakeQtProgress(window.get()));
    std::string title, label;
    int maximum = -1, value = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (auto* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible() && p->value() >= 600) {
                title = Text(p->windowTitle());
                label = Text(p->labelText());
                maximum = p->maximum();
                value = p->value();
                Shot(*p, "progress-measured");
                poll.stop();
            }
    });
    poll.start(20);
    // A function that knows how far it is.
    StepsFunction work([](long step) {
        FunctionRunner::ReportProgress(step / 10.0, step == 5 ? "Half way" : "");
        QTest::qWait(60);
        return step < 10;
    });
    EXPECT_EQ(FunctionRunner().Run(work, "Clock AVI", "Demographic analysis", "Searching the areas..."), FunctionRunner::kCompleted);
    FunctionRunner::SetSink(nullptr);
    EXPECT_EQ(title, "Demographic analysis");
    EXPECT_EQ(label, "Half way");
    EXPECT_EQ(maximum, 1000);  // a bar that fills, not a busy one
    EXPECT_GE(value, 600);
}

TEST(DesktopErrors, ABrokenConfigurationIsShownInADialog) {
    ScratchDir dir;
    std::ofstream(dir / "broken.xml") << "<PlexaConfiguration><Dataset name=\"x\"><Layer></Dataset>";
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenUp("StartupError", [&](QDialog& d) {
        auto* box = qobject_cast<QMessageBox*>(&d);
        ASSERT_TRUE(box);
        text = Text(box->text());
        icon = box->icon();
        Shot(d, "broken-configuration");
        box->button(QMessageBox::Ok)->click();
    });
    auto session = plexa::OpenDesktopSession(dir / "broken.xml", dir / "analyses");
    EXPECT_FALSE(session);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_NE(text.find("broken.xml"), std::string::npos) << text;
}

TEST_F(PagesTest, ErrorReportsReachADialogAndTheStatusBar) {
    plexa::ShowErrorReportsIn(*window);
    NewErrorHandler()->Report("Proc Module", 5, "test", "The table could not be read.");
    ASSERT_FALSE(forms::MessageLog().empty());
    EXPECT_EQ(forms::MessageLog().back().text, "The table could not be read.");
    EXPECT_EQ(forms::MessageLog().back().style & 0x70, forms::vbCritical);
    EXPECT_EQ(Text(window->statusBar()->currentMessage()), "Error: The table could not be read.");
    ErrorHandler::SetSink(nullptr);
}

// A query that no area meets is an answer, not a failure: one plain line,
// and no analysis is kept.
TEST_F(PagesTest, ARunThatFindsNoAreaSaysSoInOnePlainLine) {
    plexa::ShowErrorReportsIn(*window);
    auto before = session->dataManager->AnalysisNames();
    size_t messages = forms::MessageLog().size();
    EXPECT_EQ(RunDemographic("Nothing", "", "99"), 1);
    ASSERT_EQ(forms::MessageLog().size(), messages + 1);
    EXPECT_EQ(forms::MessageLog().back().text, "No area matches the query.");
    EXPECT_EQ(forms::MessageLog().back().style & 0x70, forms::vbInformation);
    EXPECT_EQ(Text(window->statusBar()->currentMessage()), "No area matches the query.");
    EXPECT_FALSE(window->LastRun().ok);
    EXPECT_EQ(session->dataManager->AnalysisNames(), before);
    ErrorHandler::SetSink(nullptr);
}

// A page shown again and again opens where it stood: the place kept in the
// page settings is the window's, frame included, both ways.
TEST_F(PagesTest, APageShownAgainKeepsItsPlace) {
    std::vector<QPoint> frames;
    std::vector<QPoint> clients;
    window->Driver().onShown = [&](forms::Form&, QDialog& d) {
        frames.push_back(d.frameGeometry().topLeft());
        clients.push_back(d.geometry().topLeft());
        Click(d, "OkButton");
    };
    forms::SetDriver(std::shared_ptr<forms::FormsDriver>(&window->Driver(), [](forms::FormsDriver*) {}));
    auto settings = std::make_shared<PropertySet>();
    settings->SetProperty("FormLeft", 3000);
    settings->SetProperty("FormTop", 2400);
    for (int i = 0; i < 6; ++i) {
        pxcp::ShowQueryDialog page;
        LoadFormPosition(page, session->application, settings, false);
        page.ShowModal();
        SaveFormPosition(page, settings);
    }
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames.front(), QPoint(200, 160));  // 3000 and 2400 twips
    EXPECT_NE(frames.front(), clients.front()) << "no frame to tell the two apart";
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], frames.front()) << "showing " << i + 1;
        EXPECT_EQ(clients[i], clients.front()) << "showing " << i + 1;
    }
    EXPECT_EQ(settings->GetProperty("FormLeft").ToLong(), 3000);
    EXPECT_EQ(settings->GetProperty("FormTop").ToLong(), 2400);
}

}  // namespace
