// The desktop window of the host: a map canvas drawing the map's layers
// with their renderers, the list of layers, and the Customer Prospecting
// action, which runs the same task, pages and functions as the batch
// commands through the Qt driver of the forms layer.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <memory>

#include "app/run/ProspectingRun.h"
#include "host/forms/qt/QtDriver.h"
#include "host/framework/HostSession.h"
#include "host/gis/MapDrawing.h"

namespace plexa {

class DesktopLayers;

// Shows the map picture of the GIS layer (map, legend, scale bar) in its
// area, drawn again whenever the map or the size changes.
class MapCanvas : public QLabel {
public:
    explicit MapCanvas(host::gis::MapPtr map, QWidget* parent = nullptr);
    void Redraw();
    QImage Picture() const { return picture_; }
    // What the picture shows besides the map; exports show the same.
    host::gis::MapComposition composition;
    // Where the parts of the picture are at the canvas's size.
    host::gis::PictureLayout Layout() const;

    // The map's view: the extent drawn in the map's box, and the map units per pixel.
    host::gis::Envelope ViewExtent() const;
    double UnitsPerPixel() const;
    // Zooms by a factor (< 1 closer) keeping the map point under pos in place.
    void ZoomAt(const QPoint& pos, double factor);
    void PanBy(const QPoint& pixels);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    host::gis::MapPtr map_;
    QImage picture_;
    QPoint dragFrom_;
    bool dragging_ = false;
};

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(host::HostSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs the Customer Prospecting wizard and the analysis it sets up, or
    // re-opens source; returns the wizard's result (1 when an analysis ran).
    long RunCustomerProspecting(const host::AnalysisPtr& source = nullptr);
    // Analysis > Open Analysis...: the analyses to re-open, read or remove.
    void OpenAnalysis();
    const ProspectingOutcome& LastRun() const { return lastRun_; }
    // An analysis is being set up or run.
    bool Running() const { return running_; }
    // Writes the map picture as the canvas shows it: a PDF page when the
    // name ends in ".pdf", else a PNG picture. False, with a message, when
    // it could not be written.
    bool ExportMap(const QString& path);
    host::forms::QtDriver& Driver() { return *driver_; }
    MapCanvas& Canvas() { return *canvas_; }
    // The layer list, attribute table and map tools.
    DesktopLayers& Layers() { return *layers_; }
    void RefreshLayers();

private:
    host::HostSession& session_;
    std::shared_ptr<host::forms::QtDriver> driver_;
    MapCanvas* canvas_;
    DesktopLayers* layers_;
    bool running_ = false;
    ProspectingOutcome lastRun_;
};

// "plexa gui": the desktop program.
int RunDesktop(const std::string& config, const std::string& analyses, int argc, char** argv);

}  // namespace plexa
