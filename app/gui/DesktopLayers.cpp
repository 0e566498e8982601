#include "app/gui/DesktopLayers.h"

#include <QActionGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMimeData>
#include <QStatusBar>

#include "app/gui/MainWindow.h"
#include "host/gis/LayerData.h"
#include "host/gis/LayerExport.h"

#include <stdexcept>

namespace plexa {

using namespace host;

namespace {
const char* kVectorFiles =
    "Vector data (*.shp *.gpkg *.geojson *.json *.fgb *.gml *.kml *.tab *.mif *.sqlite *.csv);;All files (*)";
}  // namespace

DesktopLayers::DesktopLayers(QMainWindow& window, HostSession& session, MapCanvas& canvas, forms::QtDriver& driver)
    : QObject(&window), window_(window), session_(session), canvas_(canvas), driver_(driver) {
    panel_ = new LayerPanel(Map(), &window);
    layersDock_ = new QDockWidget("Layers", &window);
    layersDock_->setObjectName("LayersDock");
    layersDock_->setWidget(panel_);
    table_ = new AttributeTable(&window);
    tableDock_ = new QDockWidget("Attributes", &window);
    tableDock_->setObjectName("AttributesDock");
    tableDock_->setWidget(table_);
    tableDock_->hide();
    tools_ = new MapTools(canvas_, Map());

    panel_->onMapChanged = [this] { canvas_.Redraw(); };
    panel_->onFilesDropped = [this](const QStringList& files) { AddFiles(files); };
    connect(panel_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        ZoomToLayer(panel_->LayerAt(item));
    });
    connect(panel_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { ShowMenuAt(p); });
    table_->onSelectionChanged = [this] { SelectionChanged(table_->Layer()); };
    tools_->currentLayer = [this] { return panel_->CurrentFeatureLayer(); };
    tools_->onSelectionChanged = [this](const gis::FeatureLayerPtr& l) { SelectionChanged(l); };

    addData = new QAction("&Add Data...", this);
    addData->setObjectName("AddDataAction");
    addData->setShortcut(QKeySequence("Ctrl+Shift+A"));
    connect(addData, &QAction::triggered, this, [this] { AddData(); });

    auto current = [this] { return panel_->CurrentLayer(); };
    auto currentFeatures = [this] { return panel_->CurrentFeatureLayer(); };
    menu_ = new QMenu("&Layer", &window);
    menu_->setObjectName("LayerMenu");
    menu_->addAction(addData);
    menu_->addAction("&Remove Layer", this, [this, current] { RemoveLayer(current()); })->setObjectName("RemoveLayerAction");
    menu_->addAction("&Zoom to Layer", this, [this, current] { ZoomToLayer(current()); })->setObjectName("ZoomToLayerAction");
    menu_->addSeparator();
    menu_->addAction("Open Attribute &Table", this, [this, currentFeatures] { OpenTable(currentFeatures()); })
        ->setObjectName("OpenTableAction");
    menu_->addAction("&Export Layer...", this, [this, currentFeatures] { Export(currentFeatures(), false); })
        ->setObjectName("ExportLayerAction");
    menu_->addAction("Export &Selection...", this, [this, currentFeatures] { Export(currentFeatures(), true); })
        ->setObjectName("ExportSelectionAction");
    menu_->addAction("&Clear Selection", this, [this] {
        for (auto& l : Map()->AllLayers())
            if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l); fl && !fl->selection.empty()) {
                fl->selection.clear();
                SelectionChanged(fl);
            }
    })->setObjectName("ClearSelectionAction");

    toolBar_ = new QToolBar("Map Tools", &window);
    toolBar_->setObjectName("MapToolsToolBar");
    toolBar_->addAction(addData);
    auto* group = new QActionGroup(this);
    auto tool = [&](const char* text, const char* name, MapTools::Tool t, const char* key) {
        auto* a = toolBar_->addAction(text);
        a->setObjectName(name);
        a->setCheckable(true);
        a->setShortcut(QKeySequence(key));
        a->setChecked(t == MapTools::kPan);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, t] { tools_->SetTool(t); });
    };
    tool("Pan", "PanToolAction", MapTools::kPan, "P");
    tool("Identify", "IdentifyToolAction", MapTools::kIdentify, "I");
    tool("Select", "SelectToolAction", MapTools::kSelect, "S");

    // Files dropped anywhere on the window are added.
    window_.setAcceptDrops(true);
    window_.installEventFilter(this);
}

gis::MapPtr DesktopLayers::Map() const { return session_.application->FocusMap(); }

void DesktopLayers::Message(const QString& text, const QString& title) {
    driver_.MessageBox(text.toStdString(), forms::vbExclamation, title.toStdString());
}

void DesktopLayers::Refresh() {
    panel_->Refresh();
    // A table of a layer no longer in the map is closed.
    if (auto shown = table_->Layer()) {
        bool kept = false;
        for (auto& l : Map()->AllLayers()) kept = kept || l == shown;
        if (!kept) {
            table_->SetLayer(nullptr);
            tableDock_->hide();
        }
    }
    canvas_.Redraw();
}

void DesktopLayers::AddData() {
    QFileDialog dialog(&window_, "Add Data", lastFolder_, kVectorFiles);
    dialog.setObjectName("AddDataDialog");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted) return;
    lastFolder_ = dialog.directory().absolutePath();
    AddFiles(dialog.selectedFiles());
}

int DesktopLayers::AddFiles(const QStringList& paths) {
    auto map = Map();
    std::vector<gis::FeatureLayerPtr> added;
    QStringList refused;
    for (const QString& path : paths) {
        try {
            for (auto& l : gis::OpenDataFile(path.toStdString(), [this](const std::string& layer) {
                     return AskCoordinateSystem(layer);
                 }))
                added.push_back(l);
        } catch (const std::exception& e) {
            refused << QString::fromStdString(e.what());
        }
    }
    // New layers go on top, the first file's uppermost.
    for (auto it = added.rbegin(); it != added.rend(); ++it) {
        map->AddLayer(*it);
        map->MoveLayer(*it, 0);
    }
    if (!added.empty()) {
        Refresh();
        panel_->SetCurrentLayer(added.front().get());
        window_.statusBar()->showMessage(QString("%1 layer(s) added").arg(added.size()));
    }
    if (!refused.isEmpty())
        Message((refused.size() == 1 ? "This file could not be added:\n\n" : "These files could not be added:\n\n") +
                    refused.join("\n"),
                "Add Data");
    return static_cast<int>(added.size());
}

gis::SpatialReferencePtr DesktopLayers::AskCoordinateSystem(const std::string& layer) {
    // Asked as the command line says it, so the answer is the same either way.
    QInputDialog dialog(&window_);
    dialog.setObjectName("CoordinateSystemDialog");
    dialog.setWindowTitle("Add Data");
    dialog.setLabelText(QString::fromStdString("The layer " + layer + " " + gis::NoCoordinateSystem(gis::kAsEpsg)));
    dialog.setTextValue("EPSG:");
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    std::string text = dialog.textValue().trimmed().toStdString();
    if (text.empty() || text == "EPSG:") return nullptr;
    try {
        return gis::SpatialReference::FromUserInput(text);
    } catch (const std::exception&) {
        throw std::runtime_error(text + " is not a coordinate system GDAL knows: give one as EPSG:N");
    }
}

void DesktopLayers::RemoveLayer(const gis::LayerPtr& layer) {
    if (!layer) return;
    Map()->DeleteLayer(layer);
    if (auto* panel = tools_->Identify()) panel->hide();
    Refresh();
}

void DesktopLayers::ZoomToLayer(const gis::LayerPtr& layer) {
    if (!layer) return;
    gis::Envelope e;
    if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(layer)) {
        e = gis::LayerExtentInMap(*Map(), *fl);
    } else if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(layer)) {
        for (auto& l : g->layers)
            if (auto f = std::dynamic_pointer_cast<gis::FeatureLayer>(l)) e.Union(gis::LayerExtentInMap(*Map(), *f));
    }
    if (e.empty) return;
    // A single point still gets a neighbourhood.
    if (e.Width() <= 0 && e.Height() <= 0) e = {e.xmin - 1, e.ymin - 1, e.xmax + 1, e.ymax + 1, false};
    e.Expand(1.1, 1.1);
    Map()->extent = e;
    canvas_.Redraw();
}

void DesktopLayers::OpenTable(const gis::FeatureLayerPtr& layer) {
    if (!layer || !layer->featureClass) return;
    table_->SetLayer(layer);
    tableDock_->setWindowTitle("Attributes — " + QString::fromStdString(layer->name));
    tableDock_->show();
    tableDock_->raise();
}

void DesktopLayers::Export(const gis::FeatureLayerPtr& layer, bool selectedOnly) {
    if (!layer || !layer->featureClass) return;
    QString title = selectedOnly ? "Export Selection" : "Export Layer";
    if (selectedOnly && layer->selection.empty()) {
        Message("No feature of " + QString::fromStdString(layer->name) + " is selected.", title);
        return;
    }
    forms::FileDialogRequest request;
    request.save = true;
    request.title = title.toStdString();
    request.filter = "GeoPackage|*.gpkg|CSV table|*.csv";
    request.fileName = layer->name + (selectedOnly ? "_selection" : "") + ".gpkg";
    auto chosen = driver_.FileDialog(request);
    if (!chosen) return;
    QString path = QString::fromStdString(*chosen);
    if (!path.endsWith(".gpkg", Qt::CaseInsensitive) && !path.endsWith(".csv", Qt::CaseInsensitive)) path += ".gpkg";
    try {
        long n = gis::ExportLayer(*layer, path.toStdString(), selectedOnly);
        window_.statusBar()->showMessage(QString("%1 feature(s) exported to %2").arg(n).arg(path));
    } catch (const std::exception& e) {
        Message(QString("The layer could not be exported: ") + e.what(), title);
    }
}

void DesktopLayers::SelectionChanged(const gis::FeatureLayerPtr& layer) {
    if (layer && table_->Layer() == layer) table_->ShowSelection();
    canvas_.Redraw();
    if (layer)
        window_.statusBar()->showMessage(
            QString("%1 feature(s) selected in %2").arg(layer->selection.size()).arg(QString::fromStdString(layer->name)));
}

void DesktopLayers::ShowMenuAt(const QPoint& pos) {
    QTreeWidgetItem* item = panel_->itemAt(pos);
    auto layer = panel_->LayerAt(item);
    if (!layer) return;
    panel_->SetCurrentLayer(layer.get());
    auto features = std::dynamic_pointer_cast<gis::FeatureLayer>(layer);
    QMenu menu(panel_);
    menu.setObjectName("LayerContextMenu");
    menu.addAction("&Zoom to Layer", this, [this, layer] { ZoomToLayer(layer); });
    if (features) {
        menu.addAction("Open Attribute &Table", this, [this, features] { OpenTable(features); });
        menu.addAction("&Export Layer...", this, [this, features] { Export(features, false); });
        menu.addAction("Export &Selection...", this, [this, features] { Export(features, true); })
            ->setEnabled(!features->selection.empty());
    }
    menu.addSeparator();
    menu.addAction("&Remove Layer", this, [this, layer] { RemoveLayer(layer); });
    menu.exec(panel_->viewport()->mapToGlobal(pos));
}

bool DesktopLayers::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList files = DroppedFiles(drop->mimeData());
        if (files.isEmpty()) return false;
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop) AddFiles(files);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace plexa
