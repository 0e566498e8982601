#include "app/gui/MainWindow.h"

#include <cstdio>
#include <cstdlib>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include "PXCP/Register.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/ErrorHandler.h"
#include "host/gis/Map.h"
#include "host/gis/MapDrawing.h"

namespace plexa {

using namespace host;

MapCanvas::MapCanvas(gis::MapPtr map, QWidget* parent) : QLabel(parent), map_(std::move(map)) {
    setMinimumSize(320, 200);
    // The picture follows the canvas, not the other way round.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setAlignment(Qt::AlignCenter);
    setStyleSheet("background: white;");
}

void MapCanvas::Redraw() {
    // The map is drawn by the GIS layer's renderer into a picture, the same
    // picture the batch commands write.
    QTemporaryDir dir;
    QString file = dir.filePath("map.png");
    int w = std::max(320, width()), h = std::max(200, height());
    try {
        gis::RenderMapToPng(*map_, file.toStdString(), w, h);
        picture_.load(file);
    } catch (const std::exception& e) {
        picture_ = QImage();
        setText(QString("The map could not be drawn: ") + e.what());
        return;
    }
    setPixmap(QPixmap::fromImage(picture_));
}

gis::Envelope MapCanvas::ViewExtent() const {
    gis::Envelope e = map_->extent.empty ? map_->FullExtent() : map_->extent;
    if (e.empty) return e;
    // What is drawn: the extent fitted into the canvas, centred.
    double px = UnitsPerPixel();
    double cx = (e.xmin + e.xmax) / 2, cy = (e.ymin + e.ymax) / 2;
    return {cx - px * width() / 2, cy - px * height() / 2, cx + px * width() / 2, cy + px * height() / 2, false};
}

double MapCanvas::UnitsPerPixel() const {
    gis::Envelope e = map_->extent.empty ? map_->FullExtent() : map_->extent;
    if (e.empty || width() <= 0 || height() <= 0) return 1;
    return std::max(e.Width() / width(), e.Height() / height());
}

void MapCanvas::ZoomAt(const QPoint& pos, double factor) {
    gis::Envelope v = ViewExtent();
    if (v.empty) return;
    double px = UnitsPerPixel();
    double mx = v.xmin + pos.x() * px, my = v.ymax - pos.y() * px;
    map_->extent = {mx - (mx - v.xmin) * factor, my - (my - v.ymin) * factor, mx + (v.xmax - mx) * factor,
                    my + (v.ymax - my) * factor, false};
    Redraw();
}

void MapCanvas::PanBy(const QPoint& pixels) {
    gis::Envelope v = ViewExtent();
    if (v.empty) return;
    double px = UnitsPerPixel();
    double dx = -pixels.x() * px, dy = pixels.y() * px;
    map_->extent = {v.xmin + dx, v.ymin + dy, v.xmax + dx, v.ymax + dy, false};
    Redraw();
}

void MapCanvas::wheelEvent(QWheelEvent* e) {
    ZoomAt(e->position().toPoint(), e->angleDelta().y() > 0 ? 0.8 : 1.25);
    e->accept();
}

void MapCanvas::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragFrom_ = e->pos();
    setCursor(Qt::ClosedHandCursor);
}

void MapCanvas::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_) return;
    // The picture follows the hand; the map is drawn again on release.
    QPoint d = e->pos() - dragFrom_;
    QPixmap moved(size());
    moved.fill(Qt::white);
    QPainter painter(&moved);
    painter.drawImage((width() - picture_.width()) / 2 + d.x(), (height() - picture_.height()) / 2 + d.y(), picture_);
    setPixmap(moved);
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* e) {
    if (!dragging_) return;
    dragging_ = false;
    unsetCursor();
    QPoint d = e->pos() - dragFrom_;
    if (d.manhattanLength() > 2) PanBy(d);
    else Redraw();
}

void MapCanvas::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    if (e->size() != e->oldSize()) Redraw();
}

MainWindow::MainWindow(HostSession& session, QWidget* parent) : QMainWindow(parent), session_(session) {
    setWindowTitle(QString::fromStdString("Plexa — " + session_.config.currentDataset));
    resize(1100, 700);
    driver_ = std::make_shared<forms::QtDriver>(this);
    canvas_ = new MapCanvas(session_.application->FocusMap(), this);
    setCentralWidget(canvas_);

    layers_ = new QTreeWidget(this);
    layers_->setHeaderLabel("Layers");
    auto* dock = new QDockWidget("Layers", this);
    dock->setObjectName("LayersDock");
    dock->setWidget(layers_);
    addDockWidget(Qt::LeftDockWidgetArea, dock);
    connect(layers_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        // A double click zooms to the layer.
        auto* layer = static_cast<gis::Layer*>(item->data(0, Qt::UserRole).value<void*>());
        if (!layer) return;
        gis::Envelope e = layer->Extent();
        if (e.empty) return;
        e.Expand(1.1, 1.1);
        session_.application->FocusMap()->extent = e;
        canvas_->Redraw();
    });
    connect(layers_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (filling_) return;
        auto* layer = static_cast<gis::Layer*>(item->data(0, Qt::UserRole).value<void*>());
        if (!layer) return;
        layer->visible = item->checkState(0) == Qt::Checked;
        canvas_->Redraw();
    });

    auto* prospect = new QAction("Customer &Prospecting...", this);
    prospect->setObjectName("CustomerProspectingAction");
    prospect->setShortcut(QKeySequence("Ctrl+P"));
    connect(prospect, &QAction::triggered, this, [this] { RunCustomerProspecting(); });
    auto* save = new QAction("&Save Map Picture...", this);
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, [this] {
        QString path = QFileDialog::getSaveFileName(this, "Save Map Picture", "map.png", "PNG pictures (*.png)");
        if (!path.isEmpty()) SaveMapPicture(path);
    });
    auto* full = new QAction("&Full Extent", this);
    full->setShortcut(QKeySequence("Ctrl+0"));
    connect(full, &QAction::triggered, this, [this] {
        session_.application->FocusMap()->extent = gis::Envelope{};
        canvas_->Redraw();
    });
    auto* quit = new QAction("&Quit", this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    auto* file = menuBar()->addMenu("&File");
    file->addAction(save);
    file->addSeparator();
    file->addAction(quit);
    menuBar()->addMenu("&View")->addAction(full);
    menuBar()->addMenu("&Analysis")->addAction(prospect);
    auto* tools = addToolBar("Analysis");
    tools->setObjectName("AnalysisToolBar");
    tools->addAction(prospect);
    tools->addAction(full);
    RefreshLayers();
    statusBar()->showMessage("Ready");
}

MainWindow::~MainWindow() {
    forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
    FunctionRunner::SetSink(nullptr);
}

void MainWindow::RefreshLayers() {
    filling_ = true;
    layers_->clear();
    std::function<void(const gis::LayerPtr&, QTreeWidgetItem*)> add = [&](const gis::LayerPtr& l, QTreeWidgetItem* parent) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(layers_);
        item->setText(0, QString::fromStdString(l->name));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, l->visible ? Qt::Checked : Qt::Unchecked);
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(l.get())));
        if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(l)) {
            for (auto& child : g->layers) add(child, item);
            item->setExpanded(g->expanded);
        }
    };
    for (auto& l : session_.application->FocusMap()->layers) add(l, nullptr);
    filling_ = false;
}

long MainWindow::RunCustomerProspecting() {
    // The pages and the progress of the run are this window's.
    forms::SetDriver(driver_);
    FunctionRunner::SetSink(forms::MakeQtProgress(this));
    long result = 0;
    try {
        auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
        task->Init(session_.dataManager, session_.application);
        Variant none(nullptr), ps(session_.pageSettings);
        task->SetParam("SourceAnalysis", none);
        task->SetParam("PropertySet", ps);
        task->InitParamSelector();
        result = task->DoParamSelector();
        if (result == 1) {
            bool ok = task->InitFunction() && task->StartFunction();
            long err = task->LastError();
            statusBar()->showMessage(ok && err == 0 ? "The analysis finished." : QString("The analysis failed (error %1).").arg(err));
        } else {
            statusBar()->showMessage("Customer Prospecting was cancelled.");
        }
        task->Cleanup();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, "Customer Prospecting", e.what());
    }
    RefreshLayers();
    canvas_->Redraw();
    return result;
}

void MainWindow::SaveMapPicture(const QString& path) {
    canvas_->Redraw();
    canvas_->Picture().save(path);
    statusBar()->showMessage("Map saved to " + path);
}

int RunDesktop(const std::string& config, const std::string& analyses, int argc, char** argv) {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "plexa: there is no display to show the desktop program on (set DISPLAY, or QT_QPA_PLATFORM=offscreen "
                     "to run it without one)\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Plexa");
    auto session = HostSession::Open(config, analyses);
    pxcp::RegisterPXCPClasses();
    session.AddBasemap();
    // Reports of run-time errors reach the analyst as messages.
    ErrorHandler::SetSink([](const ErrorReport& r) {
        QMessageBox::warning(nullptr, "Plexa", QString::fromStdString(r.location + ": " + r.description));
    });
    MainWindow window(session);
    window.show();
    int rc = app.exec();
    ErrorHandler::SetSink(nullptr);
    return rc;
}

}  // namespace plexa
