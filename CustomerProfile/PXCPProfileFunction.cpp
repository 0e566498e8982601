#include "CustomerProfile/PXCPProfileFunction.h"

#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>

#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/ParamTable.h"

namespace pxcp {

using namespace host;

namespace {
const host::ErrorLocation Loc("CustomerProfile\\PXCPProfileFunction.cls");
}  // namespace

PXCPProfileFunction::PXCPProfileFunction() {
    PX_TRY
    errorHandler_ = NewErrorHandler();
    PX_CATCH(errorHandler_, Loc("Class_Initialize"))
}

PXCPProfileFunction::~PXCPProfileFunction() {
    paramsCollection_.reset();
    statistics_.reset();
    areaCursor_.reset();
    dataQuery_.reset();
}

void PXCPProfileFunction::Cleanup() {
    lastError_ = 0;
    status_ = 1;
}

bool PXCPProfileFunction::SetParam(const std::string& name, Variant& value) {
    PX_TRY
    SetBoundParam({{"Application", m_pApp},
                   {"CustomerLayer", customerLayer_},
                   {"SelectedOnly", selectedOnly_},
                   {"CustomerProspectingTask", mainTask_},
                   {"ParamsCollection", paramsCollection_},
                   {"YearIndex", yearIndex_},
                   {"DataQueryObject", dataQuery_},
                   {"CharacteristicsGrid", characteristicsGrid_},
                   {"DemogrLayerID", demogrLayerID_}},
                  name, value, ParamNames::kAnyCase);
    PX_CATCH(errorHandler_, Loc("IPXFunction_SetParam"))
    return true;
}

bool PXCPProfileFunction::Init() {
    step_ = 0;
    lastError_ = 0;
    stored_ = false;
    return mainTask_ && yearIndex_ != 0 && dataQuery_ && paramsCollection_ && characteristicsGrid_ &&
           !demogrLayerID_.empty();
}

bool PXCPProfileFunction::DoStep() {
    ++step_;
    switch (step_) {
        case 1: InitSpatialFilter(); return true;
        case 2:
            if (!PrepareProfile()) step_ = 4;
            return true;
        case 3:
            if (ProcessNextArea()) step_ = 2;
            return true;
        case 4: StoreProfileValues(); return true;
        case 5:
            customersInside_ = static_cast<long>(std::count(inside_.begin(), inside_.end(), true));
            inside_.clear();
            customerGrid_.reset();
            customerLayer_.reset();
            paramsCollection_.reset();
            areaCursor_.reset();
            polygons_.reset();
            return false;
        default: return false;
    }
}

void PXCPProfileFunction::InitSpatialFilter() {
    if (selectedOnly_ && customerLayer_) selection_ = customerLayer_->selection;
}

bool PXCPProfileFunction::PrepareProfile() {
    auto demographic = dataQuery_->featureClass;
    std::vector<std::string> fields{dataQuery_->ShapeField()};
    statistics_ = std::make_shared<Collection>();
    accumulators_.clear();
    auto layerFields = dataQuery_->Fields();
    for (long i = 0; i < paramsCollection_->Count(); ++i) {
        auto row = paramsCollection_->Item(i + 1).As<Collection>();
        if (row->Item("3").ToLong() != 1 || row->Item("2").ToLong() != 1) continue;
        auto cat = mainTask_->CategoryById(row->Item("0").ToString());
        auto target = cat ? cat->TargetByName(row->Item("1").ToString()) : nullptr;
        if (!target) {
            lastError_ = 47;
            return false;
        }
        std::string year = std::to_string(yearIndex_);
        std::string fieldName = target->numberFields.count(year) ? target->numberFields.at(year) : "";
        long field = fieldName.empty() ? -1 : layerFields->FindField(fieldName);
        if (field < 0) {
            lastError_ = 47;
            return false;
        }
        long percField = -1;
        std::string baseName;
        if (target->Property("CanPercent") == "True") {
            baseName = target->percentFields.count(year) ? target->percentFields.at(year) : "";
            percField = baseName.empty() ? -1 : layerFields->FindField(baseName);
            if (percField < 0) {
                lastError_ = 47;
                return false;
            }
        }
        fields.push_back(fieldName);
        if (percField > 0) fields.push_back(baseName);
        auto stat = std::make_shared<Collection>();
        stat->Add(field, "Field");
        stat->Add(percField, "PercField");
        stat->Add(0.0, "Counter");
        stat->Add(0.0, "Total");
        stat->Add(i + 1, "row");
        statistics_->Add(stat, std::to_string(statistics_->Count()));
        accumulators_.push_back({field, percField, 0, 0, 0, 0, fieldName, baseName, 0, ""});
    }
    std::vector<std::string> unique;
    for (auto& f : fields)
        if (std::find(unique.begin(), unique.end(), f) == unique.end()) unique.push_back(f);
    std::string subFields;
    for (auto& f : unique) subFields += (subFields.empty() ? "" : ", ") + f;

    // The customers: every one of the layer (or of its selection) counts in
    // the areas it lies in; those within the analysis extent, when there is
    // one, decide which areas are visited.
    auto customers = customerLayer_->featureClass;
    auto customerSr = customers->GetSpatialReference();
    std::unique_ptr<gis::PreparedPolygon> extent;
    if (auto bounding = GetBoundingGeometry(m_pApp)) {
        auto e = bounding->Clone();
        e->Project(customerSr);
        extent = std::make_unique<gis::PreparedPolygon>(*e->Ogr());
    }
    std::vector<gis::PointGrid::Point> points;
    points.reserve(static_cast<size_t>(std::max(0L, customers->RowCount(nullptr))));
    gis::PrepareToFill(points.data(), points.capacity() * sizeof(points[0]));
    auto add = [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) return;  // a point without a place, as an empty shape
        bool inExtent = !extent || extent->Intersects(x, y);
        points.push_back({x, y, inExtent ? 1u : 0u});
    };
    // Point shapefiles are read record by record, without a cursor.
    bool straight = gis::ReadShapefilePoints(*customers, [&](const gis::OidPoint& p) {
        if (IsCustomer(p.oid)) add(p.x, p.y);
    });
    if (!straight) {
        points.clear();
        gis::QueryFilter cf;
        cf.subFields = customers->ShapeFieldName();
        auto cursor = customers->Search(&cf, true);
        while (auto row = cursor->NextRow()) {
            const OGRGeometry* g = row->ShapeRef();
            if (!g || g->IsEmpty() || !IsCustomer(row->OID())) continue;
            if (wkbFlatten(g->getGeometryType()) != wkbPoint)
                Raise(kErrTypeMismatch, "The customer layer " + customerLayer_->name + " holds shapes that are not points");
            auto* p = g->toPoint();
            add(p->getX(), p->getY());
        }
    }
    customersRead_ = static_cast<long>(points.size());
    // Into the demographic layer's coordinates, once for all areas.
    auto areaSr = dataQuery_->SpatialReference();
    if (customerSr && areaSr && !customerSr->IsSame(*areaSr) && !points.empty()) {
        std::unique_ptr<OGRCoordinateTransformation> ct(
            OGRCreateCoordinateTransformation(&customerSr->Ogr(), &areaSr->Ogr()));
        if (!ct) Raise(kErrInvalidCall, "The customers cannot be projected into the demographic layer");
        std::vector<double> x(points.size()), y(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            x[i] = points[i].x;
            y[i] = points[i].y;
        }
        std::vector<int> ok(points.size());
        ct->Transform(points.size(), x.data(), y.data(), nullptr, ok.data());
        size_t kept = 0;
        for (size_t i = 0; i < points.size(); ++i)
            if (ok[i] && std::isfinite(x[i]) && std::isfinite(y[i])) points[kept++] = {x[i], y[i], points[i].tag};
        points.resize(kept);
    }
    gis::Envelope visit;
    for (auto& p : points)
        if (p.tag) visit.Union({p.x, p.y, p.x, p.y, false});
    customersInside_ = 0;
    inside_.assign(points.size(), false);
    customerGrid_ = std::make_unique<gis::PointGrid>(std::move(points));

    // Only areas around the customers are read: a polygon shapefile
    // straight from its files, else through a search.
    visit_ = visit;
    polygons_.reset();
    if (!visit.empty) {
        std::vector<long> read;
        auto column = [&](long field) {
            auto at = std::find(read.begin(), read.end(), field);
            if (at == read.end()) at = read.insert(read.end(), field);
            return static_cast<size_t>(at - read.begin());
        };
        for (auto& stat : accumulators_) {
            stat.column = column(stat.field);
            if (stat.percField >= 1) stat.percColumn = column(stat.percField);
        }
        polygons_ = gis::ShapefilePolygons::Open(*demographic, read);
        if (polygons_) return true;
    }
    gis::QueryFilter af;
    af.subFields = subFields;
    if (!visit.empty) {
        af.geometry = gis::Geometry::MakeEnvelopePolygon(visit, areaSr);
    } else {
        af.whereClause = "1 = 0";  // no customer: an empty search of the areas
    }
    areaCursor_ = demographic->Search(&af, true);
    if (!areaCursor_) {
        lastError_ = 47;
        return false;
    }
    return true;
}

bool PXCPProfileFunction::ProcessNextArea() {
    if (polygons_) {
        // The box filter of a search: the polygon itself must meet the box.
        do {
            if (!polygons_->Next(visit_)) return false;
            polygon_.Assign(polygons_->xy(), polygons_->partStarts());
        } while (!polygon_.Intersects(visit_));
        CountArea(polygons_->Oid(), [&](long, size_t column) { return polygons_->Value(column); });
        return true;
    }
    auto area = areaCursor_->NextRow();
    if (!area) return false;
    const OGRGeometry* shape = area->ShapeRef();
    if (!shape || shape->IsEmpty()) return true;
    polygon_ = gis::PreparedPolygon(*shape);
    CountArea(area->OID(), [&](long field, size_t) -> std::optional<double> {
        Variant v = area->Value(field);
        if (v.IsEmpty()) return std::nullopt;
        return v.ToDouble();
    });
    return true;
}

void PXCPProfileFunction::CountArea(long oid, const std::function<std::optional<double>(long, size_t)>& value) {
    double n = 0;
    bool visited = false;  // holds a customer of the analysis extent
    customerGrid_->ForEachNear(polygon_.Bounds(), [&](const gis::PointGrid::Point& p) {
        if (polygon_.Intersects(p.x, p.y)) {
            ++n;
            inside_[customerGrid_->IndexOf(p)] = true;
            visited = visited || p.tag;
        }
    });
    if (!visited) return;
    for (auto& stat : accumulators_) {
        std::optional<double> xv = value(stat.field, stat.column);
        std::string failure;
        double x = xv.value_or(0), b = 0;
        if (!xv) {
            failure = "no value of " + stat.fieldName;
        } else if (stat.percField >= 1 && x > 0) {
            std::optional<double> bv = value(stat.percField, stat.percColumn);
            b = bv.value_or(0);
            if (!bv) failure = "no value of the base " + stat.baseName;
            else if (b == 0) failure = "the base " + stat.baseName + " is 0 where " + stat.fieldName + " is " + Variant(x).ToString();
        }
        if (!failure.empty()) {
            if (stat.failedAreas++ == 0) stat.failure = failure + " in " + AreaName(oid);
            continue;
        }
        if (stat.failedAreas > 0) continue;  // its average cannot be had any more
        if (stat.percField < 1) stat.counter += n * x;
        else if (x > 0) stat.counter += ((n * x) / b) * 100;
        stat.total += n;
    }
}

std::string PXCPProfileFunction::AreaName(long oid) const {
    // The area as the configuration names it: its name and key, when the
    // layer has them; otherwise its object id.
    try {
        auto layer = dataQuery_->layer;
        auto row = layer ? dataQuery_->featureClass->GetRow(oid) : nullptr;
        auto text = [&](const std::string& field) {
            long i = field.empty() ? -1 : row->GetFields()->FindField(field);
            return i < 0 ? std::string() : Trim(row->Value(i).ToString());
        };
        if (row) {
            std::string name = text(layer->descField), key = text(layer->idField);
            if (!name.empty() && !key.empty() && name != key) return name + " (" + key + ")";
            if (!name.empty() || !key.empty()) return name.empty() ? key : name;
        }
    } catch (const std::exception&) {
        // The name is a courtesy: the object id still says which area.
    }
    return "area " + std::to_string(oid);
}

std::optional<double> PXCPProfileFunction::ExactAverage(long row) const {
    if (!stored_) return std::nullopt;
    for (long k = 0; k < statistics_->Count() && k < static_cast<long>(accumulators_.size()); ++k) {
        if (statistics_->Item(std::to_string(k)).As<Collection>()->Item("row").ToLong() != row) continue;
        const Accumulator& acc = accumulators_[k];
        if (acc.failedAreas > 0) return std::nullopt;
        return acc.total > 0 ? acc.counter / acc.total : 0;
    }
    return std::nullopt;
}

void PXCPProfileFunction::StoreProfileValues() {
    stored_ = true;
    for (long k = 0; k < statistics_->Count(); ++k) {
        auto stat = statistics_->Item(std::to_string(k)).As<Collection>();
        const Accumulator& acc = accumulators_[k];
        stat->Replace("Counter", acc.counter);
        stat->Replace("Total", acc.total);
        auto row = paramsCollection_->Item(stat->Item("row").ToLong()).As<Collection>();
        if (acc.failedAreas > 0) {
            // Not profiled: the row keeps its value and says why.
            std::string reason = "not profiled: " + acc.failure;
            if (acc.failedAreas > 1)
                reason += " and " + std::to_string(acc.failedAreas - 1) +
                          (acc.failedAreas == 2 ? " other area" : " other areas");
            if (row->Contains("Reason")) row->Replace("Reason", reason);
            else row->Add(reason, "Reason");
            continue;
        }
        if (row->Contains("Reason")) row->Remove("Reason");
        double total = stat->Item("Total").ToDouble();
        double average = total > 0 ? stat->Item("Counter").ToDouble() / total : 0;
        average = std::nearbyint(average * 10) / 10;  // halves go to the even neighbour
        row->Replace("Value", average);
        row->Replace("Chance", stat->Item("PercField").ToLong() > 0 ? "% chance" : "");
    }
}

}  // namespace pxcp
