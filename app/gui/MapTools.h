// What the mouse does on the map: pan (the canvas's own), identify a
// feature by a click, or select features by dragging a rectangle (Shift
// adds to the selection, a click selects the feature under it).
#pragma once

#include <QDialog>
#include <QObject>
#include <QPoint>
#include <functional>

#include "host/gis/Map.h"

class QRubberBand;
class QTableWidget;

namespace plexa {

class MapCanvas;

// The attributes of one feature, as field and value rows.
class IdentifyPanel : public QDialog {
public:
    explicit IdentifyPanel(QWidget* parent = nullptr);
    void Show(const host::gis::FeatureLayer& layer, long oid);
    QTableWidget* Table() const { return table_; }

private:
    QTableWidget* table_;
};

class MapTools : public QObject {
public:
    enum Tool { kPan, kIdentify, kSelect };
    MapTools(MapCanvas& canvas, host::gis::MapPtr map);
    void SetTool(Tool tool);
    Tool CurrentTool() const { return tool_; }

    // The layer the tools work on: the caller's current one; when there is
    // none, the top visible feature layer with a feature under the mouse.
    std::function<host::gis::FeatureLayerPtr()> currentLayer;
    // A layer's selection was changed on the map.
    std::function<void(const host::gis::FeatureLayerPtr&)> onSelectionChanged;

    IdentifyPanel* Identify() const { return identify_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The layers to try, top first.
    std::vector<host::gis::FeatureLayerPtr> Candidates() const;
    void SelectIn(const QRect& pixels, bool add);
    void IdentifyAt(const QPoint& pixel);
    MapCanvas& canvas_;
    host::gis::MapPtr map_;
    Tool tool_ = kPan;
    QRubberBand* band_ = nullptr;
    QPoint from_;
    bool dragging_ = false;
    IdentifyPanel* identify_ = nullptr;
};

}  // namespace plexa
