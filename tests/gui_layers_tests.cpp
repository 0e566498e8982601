// The layers side of the desktop, driven with the mouse and the keyboard:
// data added through the file dialog and by dropping files, the legend in
// the layer list, the attribute table, identify and select on the map, the
// selection in the new-profile page and the customer profile, and export.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "GuiSupport.h"
#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPHouseholdData.h"
#include "app/gui/DesktopLayers.h"
#include "host/gis/LayerData.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

class LayersTest : public DesktopTest {
protected:
    plexa::DesktopLayers& Layers() { return window->Layers(); }
    plexa::LayerPanel& Panel() { return *Layers().Panel(); }
    gis::MapPtr Map() { return session->application->FocusMap(); }

    QTreeWidgetItem* Row(const QString& text) {
        for (QTreeWidgetItemIterator it(&Panel()); *it; ++it)
            if ((*it)->text(0) == text) return *it;
        ADD_FAILURE() << "no row " << text.toStdString() << " in the layer list";
        return nullptr;
    }
    QPoint At(QTreeWidgetItem* item) { return Panel().visualItemRect(item).center(); }
    void ClickRow(const QString& text) {
        if (auto* item = Row(text)) QTest::mouseClick(Panel().viewport(), Qt::LeftButton, {}, At(item));
    }
    // A right click on a row, then the entry of the menu that comes up.
    void ChooseFromRowMenu(const QString& row, const QString& entry) {
        auto* item = Row(row);
        if (!item) return;
        bool chosen = false;
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* a : menu->actions())
                if (a->text().remove('&') == entry) {
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
                    chosen = true;
                    return;
                }
            menu->close();
        });
        QPoint p = At(item);
        QTest::mouseClick(Panel().viewport(), Qt::LeftButton, {}, p);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, p, Panel().viewport()->mapToGlobal(p));
        QApplication::sendEvent(Panel().viewport(), &menuEvent);
        EXPECT_TRUE(chosen) << "no " << entry.toStdString() << " in the menu of " << row.toStdString();
    }
    void ClickTool(const char* name) {
        auto* action = window->findChild<QAction*>(name);
        ASSERT_TRUE(action) << name;
        QTest::mouseClick(Layers().ToolBar()->widgetForAction(action), Qt::LeftButton);
        ASSERT_TRUE(action->isChecked());
    }
    // A drag on the map between two map points.
    void DragOnMap(double x0, double y0, double x1, double y1, Qt::KeyboardModifiers keys = {}) {
        auto layout = window->Canvas().Layout();
        double px, py, qx, qy;
        layout.ToPicture(x0, y0, px, py);
        layout.ToPicture(x1, y1, qx, qy);
        QPoint from{int(px), int(py)}, to{int(qx), int(qy)};
        QTest::mousePress(&window->Canvas(), Qt::LeftButton, keys, from);
        QTest::mouseMove(&window->Canvas(), (from + to) / 2);
        QTest::mouseMove(&window->Canvas(), to);
        QTest::mouseRelease(&window->Canvas(), Qt::LeftButton, keys, to);
    }
    // Drops files on the window, as a file manager does.
    void DropFiles(QWidget* on, const QStringList& files) {
        QMimeData mime;
        QList<QUrl> urls;
        for (auto& f : files) urls << QUrl::fromLocalFile(f);
        mime.setUrls(urls);
        QPoint p = on->rect().center();
        QDragEnterEvent enter(p, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(on, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(p, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(on, &drop);
    }
    std::vector<std::string> LayerNames() {
        std::vector<std::string> names;
        for (auto& l : Map()->layers) names.push_back(l->name);
        return names;
    }
};

// The ZIP codes of a rectangle, counted by GDAL on the file itself.
long ZipsIn(double x0, double y0, double x1, double y1) {
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open((SampleDir() + "/zipcodes.shp").c_str(), GDAL_OF_VECTOR));
    OGRLayer* l = ds->GetLayer(0);
    l->SetSpatialFilterRect(x0, y0, x1, y1);
    return static_cast<long>(l->GetFeatureCount());
}

std::vector<QString> GridTexts(QDialog& d) {
    std::vector<QString> out;
    if (auto* grid = d.findChild<QTableWidget*>("CharacteristicsGrid"))
        for (int r = 0; r < grid->rowCount(); ++r)
            for (int c = 0; c < grid->columnCount(); ++c)
                if (auto* item = grid->item(r, c)) out.push_back(item->text());
    return out;
}

TEST_F(LayersTest, OwnCustomersAreAddedSelectedOnTheMapAndProfiled) {
    // File > Add Data by its keys; the file dialog is answered by typing the path.
    std::string zips = SampleDir() + "/zipcodes.shp";
    QTimer::singleShot(100, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog) << "no file dialog";
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_TRUE(name);
        QTest::keyClicks(name, QString::fromStdString(zips));
        QTest::keyClick(name, Qt::Key_Return);
    });
    window->activateWindow();
    if (QTest::qWaitForWindowActive(window.get())) QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    else window->findChild<QAction*>("AddDataAction")->trigger();
    ASSERT_EQ(LayerNames().front(), "zipcodes");  // on top of the map
    auto customers = std::dynamic_pointer_cast<gis::FeatureLayer>(Map()->layers.front());
    EXPECT_EQ(Panel().CurrentLayer(), customers);

    // Zoom to the counties from their menu, then select ZIP codes of the Triangle with a rectangle.
    ChooseFromRowMenu("NC Counties", "Zoom to Layer");
    EXPECT_LT(window->Canvas().ViewExtent().Width(), 15);  // degrees: the state, not the world of ZIP codes
    ClickRow("zipcodes");
    ClickTool("SelectToolAction");
    DragOnMap(-79.2, 35.6, -78.4, 36.1);
    long first = ZipsIn(-79.2, 35.6, -78.4, 36.1);
    ASSERT_GT(first, 10);
    EXPECT_NEAR(double(customers->selection.size()), double(first), first * 0.05 + 1);
    // Shift adds a second rectangle, around Charlotte.
    DragOnMap(-81.0, 35.0, -80.6, 35.4, Qt::ShiftModifier);
    long both = ZipsIn(-79.2, 35.6, -78.4, 36.1) + ZipsIn(-81.0, 35.0, -80.6, 35.4);
    EXPECT_NEAR(double(customers->selection.size()), double(both), both * 0.05 + 1);
    long selected = static_cast<long>(customers->selection.size());

    // The attribute table shows the same selection, without reading the layer whole.
    ChooseFromRowMenu("zipcodes", "Open Attribute Table");
    auto* table = Layers().Table();
    ASSERT_TRUE(Layers().TableDock()->isVisible());
    EXPECT_EQ(table->Model()->rowCount(), 42555);
    EXPECT_EQ(table->View()->selectionModel()->selectedRows().size(), selected);
    EXPECT_TRUE(table->Caption().contains(QString("%1 selected").arg(selected))) << table->Caption().toStdString();
    // Sorting by ZIP keeps the selection on the same features.
    int zipColumn = -1;
    for (int c = 0; c < table->Model()->columnCount(); ++c)
        if (table->Model()->headerData(c, Qt::Horizontal).toString() == "ZIP") zipColumn = c;
    ASSERT_GE(zipColumn, 0);
    auto* header = table->View()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(zipColumn) + 5, header->height() / 2));
    EXPECT_LT(table->Model()->data(table->Model()->index(0, zipColumn)).toString(),
              table->Model()->data(table->Model()->index(1000, zipColumn)).toString());
    std::set<long> fromView;
    for (auto& i : table->View()->selectionModel()->selectedRows()) fromView.insert(table->Model()->OidAt(i.row()));
    EXPECT_EQ(fromView, customers->selection);
    EXPECT_LT(table->Model()->RowsRead(), 2000);
    window->resize(1300, 850);
    QTest::qWait(50);
    window->grab().save(QString::fromStdString(ShotDir() + "/layers-1-selection-and-table.png"));

    // The new-profile page offers the added layer and counts its selection;
    // the profile of the selected customers is not that of all of them.
    std::vector<QString> profileSelected, profileAll;
    bool useSelection = true;
    QString caption;
    int profileShown = 0;
    auto& driver = window->Driver();
    driver.answerMessage = [](const std::string&, int) { return forms::vbOK; };
    driver.onShown = [&](forms::Form& form, QDialog& d) {
        if (form.Name() == "SelectGeographyLevelDialog") {
            ClickItem(d, "GeographyLevelsList", "Counties");
            Click(d, "NextButton");
        } else if (form.Name() == "SelectDemographicDataDialog") {
            if (profileShown == 0) Click(d, "ProfileButton");
            if (d.isVisible()) Click(d, "CancelButton");
        } else if (form.Name() == "CustomerProfileDialog") {
            if (++profileShown == 1) {
                Click(d, "SelectAllButton");
                Click(d, "NewButton");
            } else {
                (useSelection ? profileSelected : profileAll) = GridTexts(d);
                Click(d, "CancelButton");
            }
        } else if (form.Name() == "CustomerProfileNew") {
            auto* combo = Find<QComboBox>(d, "cmbCustomers");
            EXPECT_TRUE(combo && combo->currentText() == "zipcodes");
            auto* box = Find<QCheckBox>(d, "chkUseSelected");
            ASSERT_TRUE(box);
            caption = box->text();
            EXPECT_EQ(box->isEnabled(), useSelection);
            if (useSelection) {
                Click(d, "chkUseSelected");
                d.grab().save(QString::fromStdString(ShotDir() + "/layers-3-new-profile.png"));
            }
            Click(d, "ProfileButton");
        } else {
            d.reject();
        }
    };
    window->RunCustomerProspecting();
    EXPECT_TRUE(caption.contains(QString("%1").arg(selected)) && caption.contains("42555)")) << caption.toStdString();
    // Without a selection the box is off and every customer counts.
    ClickTool("SelectToolAction");
    DragOnMap(-75.9, 33.9, -75.8, 34.0);  // the sea: nothing, so the selection is cleared
    EXPECT_TRUE(customers->selection.empty());
    EXPECT_TRUE(table->Caption().contains("0 selected"));
    useSelection = false;
    profileShown = 0;
    window->RunCustomerProspecting();
    ASSERT_FALSE(profileSelected.empty());
    ASSERT_EQ(profileSelected.size(), profileAll.size());
    EXPECT_NE(profileSelected, profileAll);
}

TEST_F(LayersTest, TheLegendShowsTheClassesOfBothResultRenderers) {
    // A household-like result: five classes of PERCENT; a demographic one: one colour.
    std::string percent = dir / "percent.gpkg";
    Translate(SampleDir() + "/nc.shp", percent,
              {"-f", "GPKG", "-nln", "households", "-dialect", "SQLite", "-sql",
               "SELECT *, SID79 * 100.0 / BIR79 AS PERCENT FROM nc"});
    ASSERT_EQ(Layers().AddFiles({QString::fromStdString(percent)}), 1);
    auto households = std::dynamic_pointer_cast<gis::FeatureLayer>(Map()->layers.front());
    households->renderer =
        pxcp::PXCPHouseholdData::CreateRenderer(households->featureClass, households->featureClass->FindField("PERCENT"));
    auto matches = gis::OpenDataFile(SampleDir() + "/nc.shp").front();
    matches->name = "Matches";
    matches->renderer = pxcp::PXCPDemographicData::CreateSimpleRenderer();
    Map()->AddLayer(matches);
    window->RefreshLayers();

    auto classes = [&](const QString& layer) {
        std::vector<std::pair<QString, QColor>> out;
        auto* row = Row(layer);
        if (!row) return out;
        EXPECT_TRUE(row->isExpanded());
        for (int i = 0; i < row->childCount(); ++i) {
            QImage icon = row->child(i)->icon(0).pixmap(18, 18).toImage();
            out.push_back({row->child(i)->text(0), icon.pixelColor(9, 9)});
        }
        return out;
    };
    auto breaks = std::dynamic_pointer_cast<gis::ClassBreaksRenderer>(households->renderer);
    auto rows = classes("households");
    ASSERT_EQ(rows.size(), 5u);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].first.toStdString(), breaks->labels[i]);
        EXPECT_EQ(rows[i].second, QColor(breaks->colors[i].r, breaks->colors[i].g, breaks->colors[i].b)) << i;
    }
    rows = classes("Matches");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, "Match");
    EXPECT_EQ(rows[0].second, QColor(0, 255, 0));

    // Dragging a layer below another changes the drawing order.
    ClickRow("Matches");
    std::unique_ptr<QMimeData> mime(Panel().model()->mimeData(Panel().selectionModel()->selectedIndexes()));
    QRect target = Panel().visualItemRect(Row("households"));
    QPoint above(target.center().x(), target.top() + 2);
    QDragEnterEvent enter(above, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(Panel().viewport(), &enter);
    QDragMoveEvent move(above, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(Panel().viewport(), &move);
    EXPECT_TRUE(move.isAccepted());
    QDropEvent drop(above, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(Panel().viewport(), &drop);
    ASSERT_GE(LayerNames().size(), 3u);
    EXPECT_EQ(LayerNames()[0], "Matches");
    EXPECT_EQ(LayerNames()[1], "households");
    EXPECT_EQ(Panel().topLevelItem(0)->text(0), "Matches");

    // Identify a county by a click on the map.
    ClickRow("households");
    ChooseFromRowMenu("households", "Zoom to Layer");
    ClickTool("IdentifyToolAction");
    Row("Matches")->setCheckState(0, Qt::Unchecked);
    auto layout = window->Canvas().Layout();
    double px, py;
    layout.ToPicture(-78.64, 35.78, px, py);  // Raleigh, in Wake County
    QTest::mouseClick(&window->Canvas(), Qt::LeftButton, {}, QPoint(int(px), int(py)));
    auto* identify = Layers().Tools()->Identify();
    ASSERT_TRUE(identify && identify->isVisible());
    QString name;
    for (int r = 0; r < identify->Table()->rowCount(); ++r)
        if (identify->Table()->item(r, 0)->text() == "NAME") name = identify->Table()->item(r, 1)->text();
    EXPECT_EQ(name, "Wake");
    window->grab().save(QString::fromStdString(ShotDir() + "/layers-2-legend.png"));
    identify->grab().save(QString::fromStdString(ShotDir() + "/layers-4-identify.png"));
}

TEST_F(LayersTest, DroppedFilesAreAddedAndThoseThatCannotBeAreNamedOnce) {
    for (const char* ext : {".shp", ".shx", ".dbf"})
        fs::copy_file(SampleDir() + "/zipcodes" + ext, dir / (std::string("nocrs") + ext));
    std::ofstream(dir / "broken.geojson") << "{ this is not json";
    std::vector<std::string> messages;
    window->Driver().answerMessage = [&](const std::string& text, int) {
        messages.push_back(text);
        return forms::vbOK;
    };
    // The layer without a coordinate system is asked for one; each answer
    // is typed into the dialog, an empty one refuses the layer.
    std::vector<QString> asked;
    auto answerSystemWith = [&](const QString& text) {
        QTimer::singleShot(50, [&, text] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog) << "no question for the coordinate system";
            asked.push_back(dialog->labelText());
            dialog->grab().save(QString::fromStdString(ShotDir() + "/layers-6-coordinate-system.png"));
            auto* edit = dialog->findChild<QLineEdit*>();
            ASSERT_TRUE(edit);
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, text);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    };
    auto before = LayerNames();
    answerSystemWith("");
    DropFiles(window.get(), {QString::fromStdString(dir / "nocrs.shp"), QString::fromStdString(dir / "broken.geojson"),
                             QString::fromStdString(SampleDir() + "/boston_tracts.shp")});
    ASSERT_EQ(asked.size(), 1u);
    ASSERT_EQ(messages.size(), 1u);
    // Refused in the words of the command line, which names the system with a flag.
    EXPECT_NE(messages[0].find("nocrs.shp has no coordinate system: give it one as EPSG:N"), std::string::npos)
        << messages[0];
    EXPECT_NE(asked[0].toStdString().find("nocrs.shp has no coordinate system: give it one as EPSG:N"),
              std::string::npos);
    EXPECT_NE(messages[0].find("broken.geojson cannot be read"), std::string::npos) << messages[0];
    // The readable file is added all the same, and removed again from its menu.
    ASSERT_EQ(LayerNames().size(), before.size() + 1);
    EXPECT_EQ(LayerNames().front(), "boston_tracts");
    ChooseFromRowMenu("boston_tracts", "Remove Layer");
    EXPECT_EQ(LayerNames(), before);

    // A system GDAL does not know is refused with that reason; a known one places the layer.
    answerSystemWith("EPSG:99999999");
    DropFiles(window.get(), {QString::fromStdString(dir / "nocrs.shp")});
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].find("EPSG:99999999 is not a coordinate system GDAL knows"), std::string::npos)
        << messages[1];
    answerSystemWith("EPSG:4267");
    DropFiles(window.get(), {QString::fromStdString(dir / "nocrs.shp")});
    EXPECT_EQ(messages.size(), 2u);
    ASSERT_EQ(LayerNames().front(), "nocrs");
    auto added = std::dynamic_pointer_cast<gis::FeatureLayer>(Map()->layers.front());
    ASSERT_TRUE(added && added->featureClass->GetSpatialReference());
    EXPECT_EQ(added->featureClass->GetSpatialReference()->EpsgCode(), 4267);
    EXPECT_FALSE(gis::LayerExtentInMap(*Map(), *added).empty);
}

TEST_F(LayersTest, TheSelectionIsExportedToGeoPackageAndCsv) {
    // Rows chosen in the table are the selection the map draws and the export writes.
    ChooseFromRowMenu("NC Counties", "Open Attribute Table");
    auto* table = Layers().Table();
    auto* view = table->View();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(table->Model()->index(2, 0)).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      view->visualRect(table->Model()->index(5, 0)).center());
    auto counties = table->Layer();
    ASSERT_EQ(counties->selection.size(), 4u);
    EXPECT_TRUE(table->Caption().contains("4 selected"));

    std::string chosen;
    window->Driver().answerFile = [&](const forms::FileDialogRequest& r) {
        EXPECT_TRUE(r.save);
        return std::optional<std::string>(chosen);
    };
    for (std::string name : {"selected.gpkg", "selected.csv"}) {
        chosen = dir / name;
        ChooseFromRowMenu("NC Counties", "Export Selection...");
        std::unique_ptr<GDALDataset> ds(GDALDataset::Open(chosen.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
        ASSERT_TRUE(ds) << name;
        OGRLayer* l = ds->GetLayer(0);
        EXPECT_EQ(l->GetFeatureCount(), 4) << name;
        std::set<std::string> names, expected;
        while (std::unique_ptr<OGRFeature> f{l->GetNextFeature()}) names.insert(f->GetFieldAsString("NAME"));
        for (long oid : counties->selection) {
            auto row = counties->featureClass->GetRow(oid);
            expected.insert(row->Value(row->GetFields()->FindField("NAME")).ToString());
        }
        EXPECT_EQ(names, expected) << name;
    }
    // The whole layer too.
    chosen = dir / "all.gpkg";
    ChooseFromRowMenu("NC Counties", "Export Layer...");
    std::unique_ptr<GDALDataset> all(GDALDataset::Open(chosen.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->GetLayer(0)->GetFeatureCount(), 100);
}

}  // namespace
