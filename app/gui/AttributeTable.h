// The attribute table of a layer: a model that reads the features of the
// layer's feature class as the view asks for them (a large layer is never
// read whole), sorting by a column, and the view that shares the layer's
// selection with the map.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QTableView>
#include <QWidget>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

#include "host/gis/Map.h"

class QCheckBox;

namespace plexa {

class FeatureTableModel : public QAbstractTableModel {
public:
    explicit FeatureTableModel(host::gis::FeatureLayerPtr layer, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Sorting reads the one column, not the rows.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    const host::gis::FeatureLayerPtr& Layer() const { return layer_; }
    long OidAt(int row) const { return oids_[row]; }
    // The row of a feature, -1 when it is not in the table.
    int RowOf(long oid) const;
    // Features read so far to show their values.
    long RowsRead() const { return rowsRead_; }

private:
    const std::vector<QVariant>& Values(int row) const;
    host::gis::FeatureLayerPtr layer_;
    std::vector<long> fields_;  // host field indices of the columns
    std::vector<long> oids_;    // the features in the table's order
    std::unordered_map<long, int> rowOf_;
    // The values of the rows read last; a few thousand at most.
    mutable std::unordered_map<long, std::vector<QVariant>> cache_;
    mutable std::deque<long> cached_;
    mutable long rowsRead_ = 0;
};

// The table of one layer: its rows, the number selected, and a Show
// Selected filter. Rows selected in it are the layer's selection.
class AttributeTable : public QWidget {
public:
    explicit AttributeTable(QWidget* parent = nullptr);
    // Shows a layer's table (null: none).
    void SetLayer(const host::gis::FeatureLayerPtr& layer);
    const host::gis::FeatureLayerPtr& Layer() const { return layer_; }
    // Shows the layer's selection, after the map changed it.
    void ShowSelection();
    QTableView* View() const { return view_; }
    FeatureTableModel* Model() const { return model_; }
    QString Caption() const { return caption_->text(); }

    // The selection was changed here.
    std::function<void()> onSelectionChanged;

private:
    void TakeSelection();
    void UpdateCaption();
    host::gis::FeatureLayerPtr layer_;
    FeatureTableModel* model_ = nullptr;
    QTableView* view_;
    QLabel* caption_;
    QCheckBox* selectedOnly_;
    bool syncing_ = false;
    bool hiding_ = false;
};

}  // namespace plexa
