// The list of the map's layers: a tick to show or hide each, its legend
// (the classes of its renderer with their swatches) under it, its place in
// the drawing order by dragging, and files dropped on it to be added.
#pragma once

#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <set>

#include "host/gis/Map.h"

namespace plexa {

class LayerPanel : public QTreeWidget {
public:
    explicit LayerPanel(host::gis::MapPtr map, QWidget* parent = nullptr);

    // Lists the map's layers again, keeping the current one and which are folded.
    void Refresh();
    host::gis::LayerPtr CurrentLayer() const;
    host::gis::FeatureLayerPtr CurrentFeatureLayer() const;
    void SetCurrentLayer(const host::gis::Layer* layer);
    // The row of a layer (null when not listed); legend rows are its children.
    QTreeWidgetItem* ItemOf(const host::gis::Layer* layer) const;
    // The layer of a row, or of the layer row above a legend row.
    host::gis::LayerPtr LayerAt(QTreeWidgetItem* item) const;
    // Puts a layer at a place of the list it is in (0 is drawn on top).
    void MoveLayer(const host::gis::LayerPtr& layer, int index);

    // The drawing changed (a layer shown, hidden or moved).
    std::function<void()> onMapChanged;
    // Files dropped on the list.
    std::function<void(const QStringList&)> onFilesDropped;

    // The item data role that marks legend rows.
    static constexpr int kLegendRole = Qt::UserRole + 1;

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void AddRow(const host::gis::LayerPtr& layer, QTreeWidgetItem* parent);
    // The layer row a drop at pos lands on, and whether below it.
    QTreeWidgetItem* DropTarget(const QPoint& pos, bool& below) const;
    host::gis::MapPtr map_;
    std::set<const host::gis::Layer*> folded_;
    bool filling_ = false;
};

// Local paths of the files a drag carries.
QStringList DroppedFiles(const QMimeData* mime);

}  // namespace plexa
