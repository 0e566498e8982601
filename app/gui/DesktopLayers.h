// The layers side of the desktop: adding data files (by the File menu or
// by dropping them on the window), the layer list with its legend, the
// attribute table, identify and select on the map, and exporting a layer
// or its selection. The window places the docks, menus and tool bar this
// offers.
#pragma once

#include <QAction>
#include <QDockWidget>
#include <QMainWindow>
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <QToolBar>

#include "app/gui/AttributeTable.h"
#include "app/gui/LayerPanel.h"
#include "app/gui/MapTools.h"
#include "host/forms/qt/QtDriver.h"
#include "host/framework/HostSession.h"

namespace plexa {

class MapCanvas;

class DesktopLayers : public QObject {
public:
    DesktopLayers(QMainWindow& window, host::HostSession& session, MapCanvas& canvas, host::forms::QtDriver& driver);

    LayerPanel* Panel() const { return panel_; }
    AttributeTable* Table() const { return table_; }
    MapTools* Tools() const { return tools_; }
    QDockWidget* LayersDock() const { return layersDock_; }
    QDockWidget* TableDock() const { return tableDock_; }
    // The Layer menu and the map tools' bar.
    QMenu* LayerMenu() const { return menu_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QAction* addData;

    // Asks for data files and adds their layers.
    void AddData();
    // Adds the layers of the files on top of the map, asking for the
    // coordinate system of a layer that has none; those that cannot be
    // added are named in one message. Returns the number of layers added.
    int AddFiles(const QStringList& paths);
    void RemoveLayer(const host::gis::LayerPtr& layer);
    void ZoomToLayer(const host::gis::LayerPtr& layer);
    void OpenTable(const host::gis::FeatureLayerPtr& layer);
    // Asks where to, then writes the layer (or its selection) there.
    void Export(const host::gis::FeatureLayerPtr& layer, bool selectedOnly);
    // The list and the map drawn again, after the map changed.
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    host::gis::MapPtr Map() const;
    void SelectionChanged(const host::gis::FeatureLayerPtr& layer);
    void ShowMenuAt(const QPoint& pos);
    void Message(const QString& text, const QString& title);
    // The system the analyst names for a layer without one; null when
    // they name none.
    host::gis::SpatialReferencePtr AskCoordinateSystem(const std::string& layer);
    QMainWindow& window_;
    host::HostSession& session_;
    MapCanvas& canvas_;
    host::forms::QtDriver& driver_;
    LayerPanel* panel_;
    AttributeTable* table_;
    MapTools* tools_;
    QDockWidget* layersDock_;
    QDockWidget* tableDock_;
    QMenu* menu_;
    QToolBar* toolBar_;
    QString lastFolder_;
};

}  // namespace plexa
