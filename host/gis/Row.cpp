#include "host/gis/Row.h"

#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogrsf_frmts.h>

#include <cstdint>

#include "host/gis/GdalSupport.h"
#include "host/gis/Table.h"
#include "host/platform/Locale.h"

namespace host::gis {

Row::Row(std::shared_ptr<const Table> table, std::unique_ptr<OGRFeature> f) : table_(std::move(table)), f_(std::move(f)) {}
Row::~Row() = default;

const FieldsPtr& Row::GetFields() const { return table_->GetFields(); }
void Row::Reset(std::unique_ptr<OGRFeature> f) { f_ = std::move(f); }

long Row::OID() const { return static_cast<long>(f_->GetFID()); }

Variant Row::Value(long index) const {
    const auto& fld = table_->GetFields()->GetField(index);
    if (fld->type == kFieldOID) return Variant(static_cast<long>(f_->GetFID()));
    if (fld->type == kFieldGeometry) {
        GeometryPtr g = Shape();
        return g ? Variant(g) : Variant(nullptr);
    }
    long i = table_->HostIndexToOgr(index);
    if (!f_->IsFieldSetAndNotNull(static_cast<int>(i))) return Variant();
    switch (f_->GetFieldDefnRef(static_cast<int>(i))->GetType()) {
        case OFTInteger: return Variant(static_cast<int32_t>(f_->GetFieldAsInteger(static_cast<int>(i))));
        case OFTInteger64: {
            GIntBig v = f_->GetFieldAsInteger64(static_cast<int>(i));
            if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
            return Variant(static_cast<double>(v));
        }
        case OFTReal: return Variant(f_->GetFieldAsDouble(static_cast<int>(i)));
        default: return Variant(std::string(f_->GetFieldAsString(static_cast<int>(i))));
    }
}

void Row::SetValue(long index, const Variant& v) {
    const auto& fld = table_->GetFields()->GetField(index);
    if (fld->type == kFieldOID) Raise(kErrInvalidCall, "The object id cannot be set", "PXGIS");
    if (fld->type == kFieldGeometry) {
        auto g = v.As<Geometry>();
        if (g) SetShape(*g);
        else f_->SetGeometryDirectly(nullptr);
        return;
    }
    int i = static_cast<int>(table_->HostIndexToOgr(index));
    if (v.IsEmpty() || v.IsNothing()) {
        f_->SetFieldNull(i);
        return;
    }
    switch (f_->GetFieldDefnRef(i)->GetType()) {
        case OFTInteger: f_->SetField(i, static_cast<int>(v.ToLong())); break;
        case OFTInteger64: f_->SetField(i, static_cast<GIntBig>(v.ToDouble())); break;
        case OFTReal: f_->SetField(i, v.ToDouble()); break;
        default: {
            // A number kept as text is a C number, whatever the user's locale.
            std::string text = v.IsNumber() ? platform::FormatCNumber(v.ToDouble()) : v.ToString();
            // A shapefile's table would widen a text field to the longest
            // text written; the field keeps the width it was made with.
            if (table_->OgrDataset() && EQUAL(table_->OgrDataset()->GetDriverName(), "ESRI Shapefile")) {
                const char* enc = table_->OgrLayer()->GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE");
                bool bytePerCharacter = enc && *enc && !EQUAL(enc, "UTF-8");
                text = FitDbaseText(text, f_->GetFieldDefnRef(i)->GetWidth(), bytePerCharacter);
            }
            f_->SetField(i, text.c_str());
            break;
        }
    }
}

GeometryPtr Row::Shape() const {
    OGRGeometry* g = f_->GetGeometryRef();
    if (!g) return nullptr;
    auto out = std::make_shared<Geometry>(std::unique_ptr<OGRGeometry>(g->clone()));
    if (table_->HasAssignedSpatialReference()) out->AssignSpatialReference(table_->GetSpatialReference());
    return out;
}

const OGRGeometry* Row::ShapeRef() const { return f_->GetGeometryRef(); }

void Row::SetShape(const Geometry& g) { f_->SetGeometry(g.Ogr()); }
void Row::SetShapeCopyFrom(const Row& other) { f_->SetGeometry(other.f_->GetGeometryRef()); }

}  // namespace host::gis
