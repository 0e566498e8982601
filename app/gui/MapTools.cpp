#include "app/gui/MapTools.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QRubberBand>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/gui/MainWindow.h"
#include "host/gis/LayerData.h"

namespace plexa {

using namespace host;

namespace {
// How far from a click a feature may be and still be taken, in pixels.
constexpr double kReach = 4;
}  // namespace

IdentifyPanel::IdentifyPanel(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName("IdentifyPanel");
    setWindowTitle("Identify");
    table_ = new QTableWidget(0, 2, this);
    table_->setObjectName("IdentifyTable");
    table_->setHorizontalHeaderLabels({"Field", "Value"});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(table_);
    resize(340, 320);
}

void IdentifyPanel::Show(const gis::FeatureLayer& layer, long oid) {
    auto row = layer.featureClass->GetRow(oid);
    if (!row) return;
    setWindowTitle(QString("Identify — %1 (feature %2)").arg(QString::fromStdString(layer.name)).arg(oid));
    auto fields = row->GetFields();
    table_->setRowCount(0);
    for (long i = 0; i < fields->FieldCount(); ++i) {
        const auto& f = fields->GetField(i);
        if (f->type == gis::kFieldGeometry) continue;
        int r = table_->rowCount();
        table_->insertRow(r);
        table_->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(f->name)));
        table_->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(row->Value(i).ToString())));
    }
    table_->resizeColumnToContents(0);
    show();
    raise();
}

MapTools::MapTools(MapCanvas& canvas, gis::MapPtr map) : QObject(&canvas), canvas_(canvas), map_(std::move(map)) {
    canvas_.installEventFilter(this);
}

void MapTools::SetTool(Tool tool) {
    tool_ = tool;
    if (tool == kPan) canvas_.unsetCursor();
    else canvas_.setCursor(tool == kSelect ? Qt::CrossCursor : Qt::WhatsThisCursor);
}

std::vector<gis::FeatureLayerPtr> MapTools::Candidates() const {
    if (currentLayer)
        if (auto l = currentLayer()) return {l};
    std::vector<gis::FeatureLayerPtr> out;
    for (auto& l : map_->AllLayers())
        if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l); fl && fl->visible && fl->featureClass)
            out.push_back(fl);
    return out;
}

bool MapTools::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &canvas_ || tool_ == kPan) return false;
    auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return false;
    auto* e = static_cast<QMouseEvent*>(event);
    QPoint at = e->position().toPoint();
    if (type == QEvent::MouseButtonPress && e->button() == Qt::LeftButton) {
        from_ = at;
        dragging_ = tool_ == kSelect;
        if (dragging_) {
            if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, &canvas_);
            band_->setGeometry(QRect(from_, QSize()));
            band_->show();
        }
    } else if (type == QEvent::MouseMove && dragging_) {
        band_->setGeometry(QRect(from_, at).normalized());
    } else if (type == QEvent::MouseButtonRelease && e->button() == Qt::LeftButton) {
        if (tool_ == kSelect && dragging_) {
            dragging_ = false;
            band_->hide();
            SelectIn(QRect(from_, at).normalized(), e->modifiers() & Qt::ShiftModifier);
        } else if (tool_ == kIdentify) {
            IdentifyAt(at);
        }
    }
    return true;
}

void MapTools::SelectIn(const QRect& pixels, bool add) {
    auto layout = canvas_.Layout();
    double reach = kReach * layout.unitsPerPicture;
    double x0, y0, x1, y1;
    layout.ToMap(pixels.left(), pixels.bottom(), x0, y0);
    layout.ToMap(pixels.right(), pixels.top(), x1, y1);
    bool click = pixels.width() <= 3 && pixels.height() <= 3;
    auto layers = Candidates();
    for (auto& layer : layers) {
        std::set<long> found;
        if (click) {
            double mx, my;
            layout.ToMap(pixels.center().x(), pixels.center().y(), mx, my);
            if (long oid = gis::FeatureAt(*map_, *layer, mx, my, reach); oid >= 0) found.insert(oid);
        } else {
            auto ids = gis::FeaturesInRectangle(*map_, *layer, {x0, y0, x1, y1, false});
            found.insert(ids.begin(), ids.end());
        }
        // Without a current layer the top one hit takes the selection.
        if (found.empty() && layers.size() > 1) continue;
        if (add) layer->selection.insert(found.begin(), found.end());
        else layer->selection = std::move(found);
        if (onSelectionChanged) onSelectionChanged(layer);
        return;
    }
    // Nothing hit: a new rectangle clears what was selected.
    if (add) return;
    for (auto& layer : layers)
        if (!layer->selection.empty()) {
            layer->selection.clear();
            if (onSelectionChanged) onSelectionChanged(layer);
        }
}

void MapTools::IdentifyAt(const QPoint& pixel) {
    auto layout = canvas_.Layout();
    double mx, my;
    layout.ToMap(pixel.x(), pixel.y(), mx, my);
    for (auto& layer : Candidates()) {
        long oid = gis::FeatureAt(*map_, *layer, mx, my, kReach * layout.unitsPerPicture);
        if (oid < 0) continue;
        if (!identify_) identify_ = new IdentifyPanel(canvas_.window());
        identify_->Show(*layer, oid);
        return;
    }
    if (identify_) identify_->hide();
}

}  // namespace plexa
