#include "app/gui/AttributeTable.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

namespace plexa {

using namespace host;

namespace {

constexpr size_t kCachedRows = 4000;

QVariant ToQt(const Variant& v) {
    if (v.IsEmpty() || v.IsObject()) return {};
    if (v.IsBool()) return v.ToString() == "True";
    if (v.IsNumber()) return v.ToDouble();
    return QString::fromStdString(v.ToString());
}

// Empty values sort first, numbers by value, texts by their letters.
bool Before(const QVariant& a, const QVariant& b) {
    if (!a.isValid() || !b.isValid()) return !a.isValid() && b.isValid();
    if (a.typeId() == QMetaType::Double && b.typeId() == QMetaType::Double) return a.toDouble() < b.toDouble();
    return QString::localeAwareCompare(a.toString(), b.toString()) < 0;
}

}  // namespace

FeatureTableModel::FeatureTableModel(gis::FeatureLayerPtr layer, QObject* parent)
    : QAbstractTableModel(parent), layer_(std::move(layer)) {
    auto& fc = *layer_->featureClass;
    auto fields = fc.GetFields();
    for (long i = 0; i < fields->FieldCount(); ++i)
        if (fields->GetField(i)->type != gis::kFieldGeometry) fields_.push_back(i);
    // Only the ids are read up front.
    gis::QueryFilter ids;
    ids.subFields = fc.OIDFieldName();
    auto cursor = fc.Search(&ids, true);
    while (auto row = cursor->NextRow()) oids_.push_back(row->OID());
    for (size_t i = 0; i < oids_.size(); ++i) rowOf_[oids_[i]] = static_cast<int>(i);
}

int FeatureTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(oids_.size());
}

int FeatureTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

int FeatureTableModel::RowOf(long oid) const {
    auto it = rowOf_.find(oid);
    return it == rowOf_.end() ? -1 : it->second;
}

const std::vector<QVariant>& FeatureTableModel::Values(int row) const {
    long oid = oids_[row];
    auto it = cache_.find(oid);
    if (it != cache_.end()) return it->second;
    std::vector<QVariant> values;
    if (auto r = layer_->featureClass->GetRow(oid)) {
        ++rowsRead_;
        for (long f : fields_) values.push_back(ToQt(r->Value(f)));
    } else {
        values.resize(fields_.size());
    }
    if (cached_.size() >= kCachedRows) {
        cache_.erase(cached_.front());
        cached_.pop_front();
    }
    cached_.push_back(oid);
    return cache_[oid] = std::move(values);
}

QVariant FeatureTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    if (role == Qt::TextAlignmentRole) {
        auto type = layer_->featureClass->GetFields()->GetField(fields_[index.column()])->type;
        bool number = type != gis::kFieldString && type != gis::kFieldDate;
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole) return {};
    const QVariant& v = Values(index.row())[index.column()];
    if (v.typeId() == QMetaType::Double) return QString::number(v.toDouble(), 'g', 12);
    return v;
}

QVariant FeatureTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= columnCount()) return {};
    return QString::fromStdString(layer_->featureClass->GetFields()->GetField(fields_[section])->name);
}

void FeatureTableModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= columnCount()) return;
    auto& fc = *layer_->featureClass;
    const auto& field = fc.GetFields()->GetField(fields_[column]);
    std::unordered_map<long, QVariant> key;
    if (field->type == gis::kFieldOID) {
        for (long oid : oids_) key[oid] = double(oid);
    } else {
        gis::QueryFilter one;
        one.subFields = field->name;
        auto cursor = fc.Search(&one, true);
        while (auto row = cursor->NextRow()) key[row->OID()] = ToQt(row->Value(fields_[column]));
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QModelIndexList before = persistentIndexList();
    std::vector<long> held;
    for (auto& i : before) held.push_back(oids_[i.row()]);
    std::stable_sort(oids_.begin(), oids_.end(), [&](long a, long b) {
        return order == Qt::AscendingOrder ? Before(key[a], key[b]) : Before(key[b], key[a]);
    });
    for (size_t i = 0; i < oids_.size(); ++i) rowOf_[oids_[i]] = static_cast<int>(i);
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i) after << index(rowOf_[held[i]], before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

AttributeTable::AttributeTable(QWidget* parent) : QWidget(parent) {
    setObjectName("AttributeTable");
    view_ = new QTableView(this);
    view_->setObjectName("AttributeView");
    view_->setSortingEnabled(true);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    view_->horizontalHeader()->setSortIndicatorShown(true);
    view_->horizontalHeader()->setStretchLastSection(true);
    caption_ = new QLabel(this);
    caption_->setObjectName("AttributeCaption");
    selectedOnly_ = new QCheckBox("Show selected only", this);
    selectedOnly_->setObjectName("ShowSelectedOnly");
    connect(selectedOnly_, &QCheckBox::toggled, this, [this] { ShowSelection(); });
    auto* top = new QHBoxLayout;
    top->addWidget(caption_, 1);
    top->addWidget(selectedOnly_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top);
    layout->addWidget(view_);
    UpdateCaption();
}

void AttributeTable::SetLayer(const gis::FeatureLayerPtr& layer) {
    if (layer == layer_) {
        ShowSelection();
        return;
    }
    layer_ = layer && layer->featureClass ? layer : nullptr;
    auto* old = model_;
    auto* oldSelection = view_->selectionModel();
    model_ = layer_ ? new FeatureTableModel(layer_, this) : nullptr;
    view_->setModel(model_);
    delete oldSelection;
    delete old;
    hiding_ = false;
    view_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    if (model_)
        connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { TakeSelection(); });
    ShowSelection();
}

void AttributeTable::ShowSelection() {
    if (!model_) {
        UpdateCaption();
        return;
    }
    syncing_ = true;
    // The selected rows as runs of neighbours: one range each, not one per row.
    std::vector<int> rows;
    for (long oid : layer_->selection)
        if (int r = model_->RowOf(oid); r >= 0) rows.push_back(r);
    std::sort(rows.begin(), rows.end());
    QItemSelection ranges;
    int last = model_->columnCount() - 1;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
        ranges.select(model_->index(rows[i], 0), model_->index(rows[j], std::max(0, last)));
        i = j + 1;
    }
    view_->selectionModel()->select(ranges, QItemSelectionModel::ClearAndSelect);
    // Rows are hidden one by one: only while some are, or are to be.
    bool only = selectedOnly_->isChecked();
    if (only || hiding_)
        for (int r = 0; r < model_->rowCount(); ++r) view_->setRowHidden(r, only && !layer_->selection.count(model_->OidAt(r)));
    hiding_ = only;
    syncing_ = false;
    UpdateCaption();
}

void AttributeTable::TakeSelection() {
    if (syncing_ || !model_) return;
    std::set<long> chosen;
    for (const QModelIndex& i : view_->selectionModel()->selectedRows()) chosen.insert(model_->OidAt(i.row()));
    layer_->selection = std::move(chosen);
    UpdateCaption();
    if (onSelectionChanged) onSelectionChanged();
}

void AttributeTable::UpdateCaption() {
    if (!layer_) {
        caption_->setText("No layer");
        return;
    }
    caption_->setText(QString("%1: %2 features, %3 selected")
                          .arg(QString::fromStdString(layer_->name))
                          .arg(model_ ? model_->rowCount() : 0)
                          .arg(layer_->selection.size()));
}

}  // namespace plexa
