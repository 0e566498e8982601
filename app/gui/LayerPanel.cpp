#include "app/gui/LayerPanel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "host/gis/MapDrawing.h"

namespace plexa {

using namespace host;

namespace {

const gis::Layer* RowLayer(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<const gis::Layer*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

QIcon SwatchIcon(const gis::LegendEntry& entry) {
    QImage image(18, 18, QImage::Format_ARGB32_Premultiplied);
    gis::RenderSwatchToBuffer(entry, image.bits(), image.width(), image.height(), static_cast<int>(image.bytesPerLine()));
    return QIcon(QPixmap::fromImage(image));
}

// The list a layer is kept in: the map's, or that of the group holding it.
std::vector<gis::LayerPtr>* ListHolding(std::vector<gis::LayerPtr>& list, const gis::Layer* layer) {
    for (auto& l : list) {
        if (l.get() == layer) return &list;
        if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(l))
            if (auto* inner = ListHolding(g->layers, layer)) return inner;
    }
    return nullptr;
}

}  // namespace

QStringList DroppedFiles(const QMimeData* mime) {
    QStringList files;
    if (mime && mime->hasUrls())
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

LayerPanel::LayerPanel(gis::MapPtr map, QWidget* parent) : QTreeWidget(parent), map_(std::move(map)) {
    setObjectName("LayerPanel");
    setHeaderLabel("Layers");
    header()->hide();
    setIconSize(QSize(18, 18));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (filling_) return;
        auto* layer = const_cast<gis::Layer*>(RowLayer(item));
        if (!layer) return;
        layer->visible = item->checkState(0) == Qt::Checked;
        if (onMapChanged) onMapChanged();
    });
    auto fold = [this](QTreeWidgetItem* item, bool folded) {
        if (filling_ || !RowLayer(item)) return;
        if (folded) folded_.insert(RowLayer(item));
        else folded_.erase(RowLayer(item));
    };
    connect(this, &QTreeWidget::itemCollapsed, this, [fold](QTreeWidgetItem* i) { fold(i, true); });
    connect(this, &QTreeWidget::itemExpanded, this, [fold](QTreeWidgetItem* i) { fold(i, false); });
    Refresh();
}

void LayerPanel::AddRow(const gis::LayerPtr& l, QTreeWidgetItem* parent) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, QString::fromStdString(l->name));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
    item->setCheckState(0, l->visible ? Qt::Checked : Qt::Unchecked);
    // The address as a number: item data travels in drags, and a pointer cannot.
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(l.get())));
    if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(l)) {
        for (auto& child : g->layers) AddRow(child, item);
        item->setExpanded(g->expanded);
        return;
    }
    auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l);
    if (!fl) return;
    auto legend = gis::LayerLegend(*fl);
    // A layer drawn in one symbol shows it beside its name, as one class.
    bool single = legend.size() == 1 && legend.front().label == l->name;
    if (single) {
        item->setIcon(0, SwatchIcon(legend.front()));
        return;
    }
    for (auto& entry : legend) {
        auto* row = new QTreeWidgetItem(item);
        row->setText(0, QString::fromStdString(entry.label));
        row->setIcon(0, SwatchIcon(entry));
        row->setFlags(Qt::ItemIsEnabled);
        row->setData(0, kLegendRole, true);
    }
    item->setExpanded(!folded_.count(l.get()));
}

void LayerPanel::Refresh() {
    const gis::Layer* current = RowLayer(currentItem());
    filling_ = true;
    clear();
    for (auto& l : map_->layers) AddRow(l, nullptr);
    filling_ = false;
    if (current) SetCurrentLayer(current);
}

QTreeWidgetItem* LayerPanel::ItemOf(const gis::Layer* layer) const {
    if (!layer) return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<LayerPanel*>(this)); *it; ++it)
        if (RowLayer(*it) == layer) return *it;
    return nullptr;
}

void LayerPanel::SetCurrentLayer(const gis::Layer* layer) {
    if (auto* item = ItemOf(layer)) setCurrentItem(item);
}

gis::LayerPtr LayerPanel::LayerAt(QTreeWidgetItem* item) const {
    if (item && item->data(0, kLegendRole).toBool()) item = item->parent();
    const gis::Layer* l = RowLayer(item);
    if (!l) return nullptr;
    for (auto& layer : map_->AllLayers())
        if (layer.get() == l) return layer;
    return nullptr;
}

gis::LayerPtr LayerPanel::CurrentLayer() const { return LayerAt(currentItem()); }

gis::FeatureLayerPtr LayerPanel::CurrentFeatureLayer() const {
    return std::dynamic_pointer_cast<gis::FeatureLayer>(CurrentLayer());
}

void LayerPanel::MoveLayer(const gis::LayerPtr& layer, int index) {
    auto* list = layer ? ListHolding(map_->layers, layer.get()) : nullptr;
    if (!list) return;
    auto at = std::find(list->begin(), list->end(), layer);
    int from = static_cast<int>(at - list->begin());
    index = std::clamp(index, 0, static_cast<int>(list->size()) - 1);
    if (index == from) return;
    list->erase(at);
    list->insert(list->begin() + index, layer);
    Refresh();
    SetCurrentLayer(layer.get());
    if (onMapChanged) onMapChanged();
}

QTreeWidgetItem* LayerPanel::DropTarget(const QPoint& pos, bool& below) const {
    QTreeWidgetItem* item = itemAt(pos);
    below = false;
    if (!item) {
        // Below the last row: the bottom of the list.
        if (topLevelItemCount() == 0) return nullptr;
        below = true;
        return topLevelItem(topLevelItemCount() - 1);
    }
    QRect r = visualItemRect(item);
    if (item->data(0, kLegendRole).toBool()) {
        // Among a layer's classes is after the layer.
        below = true;
        return item->parent();
    }
    below = pos.y() > r.center().y();
    return item;
}

void LayerPanel::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
    else QTreeWidget::dragEnterEvent(e);
}

void LayerPanel::dragMoveEvent(QDragMoveEvent* e) {
    if (e->mimeData()->hasUrls()) {
        e->acceptProposedAction();
        return;
    }
    QTreeWidget::dragMoveEvent(e);
    // Layers move among the layers of their own list only.
    bool below;
    QTreeWidgetItem* target = DropTarget(e->position().toPoint(), below);
    QTreeWidgetItem* dragged = currentItem();
    if (target && dragged && target->parent() == dragged->parent()) e->accept();
    else e->ignore();
}

void LayerPanel::dropEvent(QDropEvent* e) {
    QStringList files = DroppedFiles(e->mimeData());
    if (!files.isEmpty()) {
        e->acceptProposedAction();
        if (onFilesDropped) onFilesDropped(files);
        return;
    }
    // The list is rebuilt from the map, so the view's own move is not made.
    e->setDropAction(Qt::IgnoreAction);
    e->accept();
    bool below;
    QTreeWidgetItem* target = DropTarget(e->position().toPoint(), below);
    QTreeWidgetItem* dragged = currentItem();
    if (!target || !dragged || target == dragged || target->parent() != dragged->parent()) return;
    auto layer = LayerAt(dragged);
    auto* parent = target->parent();
    int to = parent ? parent->indexOfChild(target) : indexOfTopLevelItem(target);
    int from = parent ? parent->indexOfChild(dragged) : indexOfTopLevelItem(dragged);
    if (below) ++to;
    if (from < to) --to;
    MoveLayer(layer, to);
}

}  // namespace plexa
