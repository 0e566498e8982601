#include "CustomerProfile/PXCPProfileFunction.h"

#include <cmath>

#include "PXCP/PXAnalysisUtils.h"

namespace pxcp {

using namespace host;

namespace {
const char* kModule = "CustomerProfile\\PXCPProfileFunction.cls";
std::string Loc(const char* proc) { return std::string(proc) + " " + kModule; }
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
    std::string key = LCase(name);
    if (key == "application") value.AssignTo(m_pApp);
    else if (key == "customerlayer") value.AssignTo(customerLayer_);
    else if (key == "selectedonly") selectedOnly_ = value.ToBool();
    else if (key == "customerprospectingtask") value.AssignTo(mainTask_);
    else if (key == "paramscollection") value.AssignTo(paramsCollection_);
    else if (key == "yearindex") yearIndex_ = static_cast<int16_t>(value.ToLong());
    else if (key == "dataqueryobject") value.AssignTo(dataQuery_);
    else if (key == "characteristicsgrid") characteristicsGrid_ = value.IsObject() ? value.ToObject() : nullptr;
    else if (key == "demogrlayerid") demogrLayerID_ = value.ToString();
    PX_CATCH(errorHandler_, Loc("IPXFunction_SetParam"))
    return true;
}

bool PXCPProfileFunction::Init() {
    step_ = 0;
    lastError_ = 0;
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
            areaFilter_.reset();
            customerLayer_.reset();
            paramsCollection_.reset();
            areaCursor_.reset();
            return false;
        default: return false;
    }
}

void PXCPProfileFunction::InitSpatialFilter() {
    areaFilter_ = std::make_unique<gis::QueryFilter>();
    if (selectedOnly_ && customerLayer_) selection_ = customerLayer_->selection;
}

bool PXCPProfileFunction::PrepareProfile() {
    auto demographic = dataQuery_->featureClass;
    std::vector<std::string> fields{dataQuery_->ShapeField()};
    statistics_ = std::make_shared<Collection>();
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
    }
    std::vector<std::string> unique;
    for (auto& f : fields)
        if (std::find(unique.begin(), unique.end(), f) == unique.end()) unique.push_back(f);
    std::string subFields;
    for (auto& f : unique) subFields += (subFields.empty() ? "" : ", ") + f;

    // The customers, within the analysis extent when there is one.
    auto customers = customerLayer_->featureClass;
    auto customerSr = customers->GetSpatialReference();
    gis::QueryFilter cf;
    cf.subFields = customers->ShapeFieldName();
    if (auto extent = GetBoundingGeometry(m_pApp)) {
        cf.geometry = extent->Clone();
        cf.geometry->Project(customerSr);
    }
    std::vector<std::pair<double, double>> points;
    auto cursor = customers->Search(&cf, true);
    while (auto row = cursor->NextRow()) {
        if (!IsCustomer(row->OID())) continue;
        auto g = row->Shape();
        if (!g || g->Type() != gis::kGeomPoint) {
            if (g) Raise(kErrTypeMismatch, "The customer layer " + customerLayer_->name + " holds shapes that are not points");
            continue;
        }
        auto e = g->GetEnvelope();
        points.emplace_back(e.xmin, e.ymin);
    }
    areaCursor_.reset();
    if (!points.empty()) {
        auto multipoint = gis::Geometry::MakeMultipoint(points, customerSr);
        multipoint->Project(dataQuery_->SpatialReference());
        gis::QueryFilter af;
        af.subFields = subFields;
        af.geometry = multipoint;
        areaCursor_ = demographic->Search(&af, true);
    } else {
        // No customer: an empty search of the areas.
        gis::QueryFilter none;
        none.whereClause = "1 = 0";
        areaCursor_ = demographic->Search(&none, true);
    }
    areaFilter_->subFields = customers->OIDFieldName();
    if (!areaCursor_) {
        lastError_ = 47;
        return false;
    }
    return true;
}

bool PXCPProfileFunction::ProcessNextArea() {
    auto area = areaCursor_->NextRow();
    if (!area) return false;
    auto shape = area->Shape();
    if (!shape) return true;
    auto customers = customerLayer_->featureClass;
    shape->Project(customers->GetSpatialReference());
    areaFilter_->geometry = shape;
    double n = 0;
    if (selectedOnly_) {
        auto c = customers->Search(areaFilter_.get(), true);
        while (auto r = c->NextRow())
            if (IsCustomer(r->OID())) ++n;
    } else {
        n = customers->RowCount(areaFilter_.get());
    }
    for (long k = 1; k <= statistics_->Count(); ++k) {
        auto stat = statistics_->Item(k).As<Collection>();
        Variant xv = area->Value(stat->Item("Field").ToLong());
        long perc = stat->Item("PercField").ToLong();
        double counter = stat->Item("Counter").ToDouble(), total = stat->Item("Total").ToDouble();
        if (xv.IsEmpty()) continue;  // no value for this area: it adds nothing
        double x = xv.ToDouble();
        if (perc < 1) {
            counter += n * x;
        } else if (x > 0) {
            Variant bv = area->Value(perc);
            double b = bv.IsEmpty() ? 0 : bv.ToDouble();
            if (b == 0) continue;  // a count over no base cannot be a percentage
            counter += ((n * x) / b) * 100;
        }
        total += n;
        stat->Replace("Counter", counter);
        stat->Replace("Total", total);
    }
    return true;
}

void PXCPProfileFunction::StoreProfileValues() {
    for (long k = 0; k < statistics_->Count(); ++k) {
        auto stat = statistics_->Item(std::to_string(k)).As<Collection>();
        double total = stat->Item("Total").ToDouble();
        double average = total > 0 ? stat->Item("Counter").ToDouble() / total : 0;
        average = std::nearbyint(average * 10) / 10;  // halves go to the even neighbour
        auto row = paramsCollection_->Item(stat->Item("row").ToLong()).As<Collection>();
        row->Replace("Value", average);
        row->Replace("Chance", stat->Item("PercField").ToLong() > 0 ? "% chance" : "");
    }
}

}  // namespace pxcp
