#include "app/gui/MainWindow.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

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
#include <QToolBar>

#include "PXCP/Register.h"
#include "app/gui/AnalysesDialog.h"
#include "app/gui/DesktopErrors.h"
#include "app/gui/DesktopLayers.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/ErrorHandler.h"
#include "host/gis/LayerData.h"
#include "host/gis/Map.h"
#include "host/platform/Locale.h"

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
    // The GIS layer draws the picture straight into the canvas's pixels:
    // the same drawing as the pictures and pages it writes.
    int w = std::max(1, width()), h = std::max(1, height());
    QImage picture(w, h, QImage::Format_ARGB32_Premultiplied);
    try {
        if (picture.isNull()) throw std::runtime_error("no memory for a picture of this size");
        gis::RenderMapToBuffer(*map_, picture.bits(), w, h, static_cast<int>(picture.bytesPerLine()), composition);
    } catch (const std::exception& e) {
        picture_ = QImage();
        setText(QString("The map could not be drawn: ") + e.what());
        return;
    }
    picture_ = picture;
    setPixmap(QPixmap::fromImage(picture_));
}

gis::PictureLayout MapCanvas::Layout() const {
    return gis::LayoutMapPicture(*map_, composition, std::max(1, width()), std::max(1, height()));
}

gis::Envelope MapCanvas::ViewExtent() const {
    if (map_->extent.empty && gis::FullExtentInMap(*map_).empty) return {};
    return Layout().view;
}

double MapCanvas::UnitsPerPixel() const { return Layout().unitsPerPicture; }

namespace {
// The extent the view is made from: the map's, or all of it.
gis::Envelope ExtentOf(const gis::Map& map) { return map.extent.empty ? gis::FullExtentInMap(map) : map.extent; }
}  // namespace

void MapCanvas::ZoomAt(const QPoint& pos, double factor) {
    gis::Envelope e = ExtentOf(*map_);
    if (e.empty) return;
    // Scaling the extent about the point keeps the point where it is drawn.
    double mx, my;
    Layout().ToMap(pos.x(), pos.y(), mx, my);
    map_->extent = {mx - (mx - e.xmin) * factor, my - (my - e.ymin) * factor, mx + (e.xmax - mx) * factor,
                    my + (e.ymax - my) * factor, false};
    Redraw();
}

void MapCanvas::PanBy(const QPoint& pixels) {
    gis::Envelope e = ExtentOf(*map_);
    if (e.empty) return;
    double px = UnitsPerPixel();
    double dx = -pixels.x() * px, dy = pixels.y() * px;
    map_->extent = {e.xmin + dx, e.ymin + dy, e.xmax + dx, e.ymax + dy, false};
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
    // The map follows the hand inside its frame; it is drawn again on release.
    QPoint d = e->pos() - dragFrom_;
    gis::PictureLayout layout = Layout();
    QPixmap moved = QPixmap::fromImage(picture_);
    QPainter painter(&moved);
    painter.setClipRect(QRectF(layout.map.x, layout.map.y, layout.map.w, layout.map.h));
    painter.fillRect(moved.rect(), Qt::white);
    painter.drawImage(d, picture_);
    painter.end();
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
    canvas_->composition.title = session_.config.currentDataset;
    setCentralWidget(canvas_);

    layers_ = new DesktopLayers(*this, session_, *canvas_, *driver_);
    addDockWidget(Qt::LeftDockWidgetArea, layers_->LayersDock());
    addDockWidget(Qt::BottomDockWidgetArea, layers_->TableDock());

    auto* prospect = new QAction("Customer &Prospecting...", this);
    prospect->setObjectName("CustomerProspectingAction");
    prospect->setShortcut(QKeySequence("Ctrl+P"));
    connect(prospect, &QAction::triggered, this, [this] { RunCustomerProspecting(); });
    auto* reopen = new QAction("&Open Analysis...", this);
    reopen->setObjectName("OpenAnalysisAction");
    connect(reopen, &QAction::triggered, this, [this] { OpenAnalysis(); });
    auto* save = new QAction("&Export Map...", this);
    save->setObjectName("ExportMapAction");
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, [this] {
        QString path = QFileDialog::getSaveFileName(this, "Export Map", "map.png",
                                                    "PNG picture (*.png);;PDF document (*.pdf)");
        if (!path.isEmpty()) ExportMap(path);
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
    file->addAction(layers_->addData);
    file->addSeparator();
    file->addAction(save);
    file->addSeparator();
    file->addAction(quit);
    menuBar()->addMenu("&View")->addAction(full);
    menuBar()->addMenu(layers_->LayerMenu());
    auto* analysis = menuBar()->addMenu("&Analysis");
    analysis->addAction(prospect);
    analysis->addAction(reopen);
    auto* tools = addToolBar("Analysis");
    tools->setObjectName("AnalysisToolBar");
    tools->addAction(prospect);
    tools->addAction(full);
    addToolBar(layers_->ToolBar());
    RefreshLayers();
    statusBar()->showMessage("Ready");
}

MainWindow::~MainWindow() {
    forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
    FunctionRunner::SetSink(nullptr);
}

void MainWindow::RefreshLayers() { layers_->Refresh(); }

long MainWindow::RunCustomerProspecting(const AnalysisPtr& source) {
    // The pages and the progress of the run are this window's.
    forms::SetDriver(driver_);
    FunctionRunner::SetSink(forms::MakeQtProgress(this));
    running_ = true;
    lastRun_ = {};
    size_t messages = forms::MessageLog().size();
    try {
        lastRun_ = RunProspectingFromDesktop(session_, source);
    } catch (const std::exception& e) {
        lastRun_.errorText = e.what();
        driver_->MessageBox("Customer Prospecting stopped: " + lastRun_.errorText, forms::vbCritical, "Customer Prospecting");
    }
    running_ = false;
    statusBar()->showMessage(QString::fromStdString(OutcomeMessage(lastRun_)));
    // A run that failed tells why, unless its pages already did.
    bool told = false;
    for (size_t i = messages; i < forms::MessageLog().size(); ++i) {
        int icon = forms::MessageLog()[i].style & 0x70;
        told = told || icon == forms::vbCritical || icon == forms::vbExclamation;
    }
    if (lastRun_.pageResult == 1 && lastRun_.nothingFound && !told && !lastRun_.errorText.empty()) {
        // No area to keep is an answer, not a failure: one plain line.
        driver_->MessageBox(lastRun_.errorText, forms::vbInformation, "Customer Prospecting");
    } else if (lastRun_.pageResult == 1 && !lastRun_.ok && !told && !lastRun_.errorText.empty()) {
        std::string text = "The analysis failed: " + lastRun_.errorText;
        for (auto& r : lastRun_.errorReports)
            if (r != lastRun_.errorText) text += "\n" + r;
        driver_->MessageBox(text, forms::vbCritical, "Customer Prospecting");
    }
    RefreshLayers();
    canvas_->Redraw();
    return lastRun_.pageResult;
}

void MainWindow::OpenAnalysis() {
    AnalysesDialog dialog(session_, *driver_, this);
    dialog.onRemoved = [this] {
        RefreshLayers();
        canvas_->Redraw();
        statusBar()->showMessage("The analysis was removed.");
    };
    if (dialog.exec() == QDialog::Accepted && dialog.Chosen()) RunCustomerProspecting(dialog.Chosen());
}

bool MainWindow::ExportMap(const QString& chosen) {
    QString path = chosen;
    bool pdf = path.endsWith(".pdf", Qt::CaseInsensitive);
    if (!pdf && !path.endsWith(".png", Qt::CaseInsensitive)) path += ".png";
    const auto& map = *session_.application->FocusMap();
    int w = std::max(1, canvas_->width()), h = std::max(1, canvas_->height());
    try {
        // A page as large as the canvas at 96 pixels to the inch.
        if (pdf) gis::RenderMapToPdf(map, path.toStdString(), w * 0.75, h * 0.75, canvas_->composition);
        else gis::RenderMapToPng(map, path.toStdString(), w, h, canvas_->composition);
    } catch (const std::exception& e) {
        QMessageBox::warning(this, "Export Map", QString("The map could not be exported: ") + e.what());
        return false;
    }
    statusBar()->showMessage("Map exported to " + path);
    return true;
}

int RunDesktop(const std::string& config, const std::string& analyses, int argc, char** argv) {
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "plexa: there is no display to show the desktop program on (set DISPLAY, or QT_QPA_PLATFORM=offscreen "
                     "to run it without one)\n");
        return 1;
    }
    QApplication app(argc, argv);
    host::platform::UseEnvironmentLocale();  // the toolkit has set the C library's locale: messages stay English
    QApplication::setApplicationName("Plexa");
    // A configuration that cannot be used is told in a dialog.
    auto session = OpenDesktopSession(config, analyses);
    if (!session) return 1;
    pxcp::RegisterPXCPClasses();
    try {
        session->AddBasemap();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Plexa", QString("The basemap could not be opened: ") + e.what());
    }
    MainWindow window(*session);
    // Reports of run-time errors reach the analyst, not only the terminal.
    ShowErrorReportsIn(window);
    window.show();
    return app.exec();
}

}  // namespace plexa
