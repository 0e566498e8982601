#include "host/gis/Gis.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>
#include <ogr_swq.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace host::gis {

namespace {

std::string& LastErrorRef() {
    static std::string last;
    return last;
}

void CPL_STDCALL QuietErrorHandler(CPLErr cls, CPLErrorNum, const char* msg) {
    if (cls >= CE_Failure) LastErrorRef() = msg ? msg : "";
}

std::shared_ptr<GDALDataset> Wrap(GDALDataset* ds) {
    return std::shared_ptr<GDALDataset>(ds, [](GDALDataset* d) {
        if (d) GDALClose(GDALDataset::ToHandle(d));
    });
}

[[noreturn]] void RaiseGdal(const std::string& what) {
    std::string detail = LastGdalError();
    Raise(kErrInvalidCall, detail.empty() ? what : what + ": " + detail, "PXGIS");
}

OGRwkbGeometryType ToOgrGeomType(GeometryType t, bool multi) {
    switch (t) {
        case kGeomPoint: return wkbPoint;
        case kGeomMultipoint: return wkbMultiPoint;
        case kGeomPolyline: return multi ? wkbMultiLineString : wkbLineString;
        case kGeomPolygon: return multi ? wkbMultiPolygon : wkbPolygon;
        default: return wkbUnknown;
    }
}

GeometryType FromOgrGeomType(OGRwkbGeometryType t) {
    switch (wkbFlatten(t)) {
        case wkbPoint: return kGeomPoint;
        case wkbMultiPoint: return kGeomMultipoint;
        case wkbLineString:
        case wkbMultiLineString: return kGeomPolyline;
        case wkbPolygon:
        case wkbMultiPolygon: return kGeomPolygon;
        default: return kGeomNull;
    }
}

const char* kShapefileSidecars[] = {".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix", ".sbn", ".sbx", ".idm", ".ind"};

std::map<std::string, std::weak_ptr<GDALDataset>>& GpkgCache() {
    static std::map<std::string, std::weak_ptr<GDALDataset>> cache;
    return cache;
}

}  // namespace

void EnsureGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        CPLSetErrorHandler(QuietErrorHandler);
    });
}

std::string LastGdalError() {
    std::string s = LastErrorRef();
    LastErrorRef().clear();
    return s;
}

// ---------------- SpatialReference ----------------

SpatialReference::SpatialReference() : sr_(std::make_unique<OGRSpatialReference>()) {
    sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}
SpatialReference::SpatialReference(const OGRSpatialReference& sr) : sr_(std::make_unique<OGRSpatialReference>(sr)) {
    sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}
SpatialReference::~SpatialReference() = default;

SpatialReferencePtr SpatialReference::FromEPSG(int code) {
    EnsureGdal();
    auto sr = std::make_shared<SpatialReference>();
    if (sr->sr_->importFromEPSG(code) != OGRERR_NONE) Raise(kErrInvalidCall, "Unknown coordinate system code " + std::to_string(code), "PXGIS");
    sr->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return sr;
}

SpatialReferencePtr SpatialReference::FromWkt(const std::string& wkt) {
    EnsureGdal();
    auto sr = std::make_shared<SpatialReference>();
    if (sr->sr_->importFromWkt(wkt.c_str()) != OGRERR_NONE) Raise(kErrInvalidCall, "Invalid coordinate system text", "PXGIS");
    sr->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return sr;
}

SpatialReferencePtr SpatialReference::FromUserInput(const std::string& text) {
    EnsureGdal();
    auto sr = std::make_shared<SpatialReference>();
    if (Trim(text).empty() || sr->sr_->SetFromUserInput(text.c_str()) != OGRERR_NONE)
        Raise(kErrInvalidCall, "Unknown coordinate system " + text, "PXGIS");
    sr->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return sr;
}

bool SpatialReference::IsGeographic() const { return sr_->IsGeographic() && !sr_->IsProjected(); }
bool SpatialReference::IsProjected() const { return sr_->IsProjected(); }
bool SpatialReference::IsEmpty() const { return sr_->IsEmpty(); }
std::string SpatialReference::Name() const {
    const char* n = sr_->GetName();
    return n ? n : "";
}
int SpatialReference::EpsgCode() const {
    const char* node = sr_->IsProjected() ? "PROJCS" : "GEOGCS";
    const char* auth = sr_->GetAuthorityName(node);
    const char* code = sr_->GetAuthorityCode(node);
    if (auth && code && std::string(auth) == "EPSG") return std::atoi(code);
    return -1;
}
std::string SpatialReference::ToWkt() const {
    char* w = nullptr;
    sr_->exportToWkt(&w);
    std::string s = w ? w : "";
    CPLFree(w);
    return s;
}
SpatialReferencePtr SpatialReference::GeographicCoordinateSystem() const {
    auto g = std::make_shared<SpatialReference>();
    g->sr_->CopyGeogCSFrom(sr_.get());
    g->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return g;
}
bool SpatialReference::IsSame(const SpatialReference& other) const { return sr_->IsSame(other.sr_.get()) != 0; }
void SpatialReference::SetProjectionParameter(const std::string& name, double value) {
    if (sr_->SetNormProjParm(name.c_str(), value) != OGRERR_NONE)
        Raise(kErrInvalidCall, "Cannot set projection parameter " + name, "PXGIS");
}
double SpatialReference::ProjectionParameter(const std::string& name) const {
    return sr_->GetNormProjParm(name.c_str(), 0.0);
}

// ---------------- Envelope ----------------

void Envelope::Expand(double fx, double fy) {
    if (empty) return;
    double cx = (xmin + xmax) / 2, cy = (ymin + ymax) / 2;
    double hw = Width() * fx / 2, hh = Height() * fy / 2;
    xmin = cx - hw;
    xmax = cx + hw;
    ymin = cy - hh;
    ymax = cy + hh;
}

void Envelope::Union(const Envelope& o) {
    if (o.empty) return;
    if (empty) {
        *this = o;
        return;
    }
    xmin = std::min(xmin, o.xmin);
    ymin = std::min(ymin, o.ymin);
    xmax = std::max(xmax, o.xmax);
    ymax = std::max(ymax, o.ymax);
}

// ---------------- Geometry ----------------

Geometry::Geometry(std::unique_ptr<OGRGeometry> g) : g_(std::move(g)) {}

namespace {
// Geometries keep a counted reference of their own; our spatial reference
// objects own theirs outright, so a geometry always gets a copy.
void AssignCopy(OGRGeometry* g, const OGRSpatialReference* sr) {
    if (!sr) {
        g->assignSpatialReference(nullptr);
        return;
    }
    OGRSpatialReference* copy = sr->Clone();
    copy->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    g->assignSpatialReference(copy);
    copy->Release();
}
}  // namespace
Geometry::~Geometry() = default;

GeometryPtr Geometry::FromWkt(const std::string& wkt, SpatialReferencePtr sr) {
    EnsureGdal();
    OGRGeometry* g = nullptr;
    const char* p = wkt.c_str();
    if (OGRGeometryFactory::createFromWkt(p, nullptr, &g) != OGRERR_NONE || !g)
        Raise(kErrInvalidCall, "Invalid geometry text", "PXGIS");
    auto out = std::make_shared<Geometry>(std::unique_ptr<OGRGeometry>(g));
    if (sr) out->AssignSpatialReference(sr);
    return out;
}

GeometryPtr Geometry::MakeMultipoint(const std::vector<std::pair<double, double>>& pts, SpatialReferencePtr sr) {
    auto mp = std::make_unique<OGRMultiPoint>();
    for (auto& [x, y] : pts) mp->addGeometryDirectly(new OGRPoint(x, y));
    auto out = std::make_shared<Geometry>(std::move(mp));
    if (sr) out->AssignSpatialReference(sr);
    return out;
}

GeometryPtr Geometry::MakeEnvelopePolygon(const Envelope& e, SpatialReferencePtr sr) {
    auto ring = new OGRLinearRing();
    ring->addPoint(e.xmin, e.ymin);
    ring->addPoint(e.xmin, e.ymax);
    ring->addPoint(e.xmax, e.ymax);
    ring->addPoint(e.xmax, e.ymin);
    ring->addPoint(e.xmin, e.ymin);
    auto poly = std::make_unique<OGRPolygon>();
    poly->addRingDirectly(ring);
    auto out = std::make_shared<Geometry>(std::move(poly));
    if (sr) out->AssignSpatialReference(sr);
    return out;
}

GeometryPtr Geometry::Clone() const { return std::make_shared<Geometry>(std::unique_ptr<OGRGeometry>(g_->clone())); }
GeometryType Geometry::Type() const { return g_ ? FromOgrGeomType(g_->getGeometryType()) : kGeomNull; }
bool Geometry::IsEmpty() const { return !g_ || g_->IsEmpty(); }

Envelope Geometry::GetEnvelope() const {
    Envelope e;
    if (IsEmpty()) return e;
    OGREnvelope oe;
    g_->getEnvelope(&oe);
    e = {oe.MinX, oe.MinY, oe.MaxX, oe.MaxY, false};
    return e;
}

SpatialReferencePtr Geometry::GetSpatialReference() const {
    if (!g_ || !g_->getSpatialReference()) return nullptr;
    return std::make_shared<SpatialReference>(*g_->getSpatialReference());
}

void Geometry::AssignSpatialReference(SpatialReferencePtr sr) {
    if (g_) AssignCopy(g_.get(), sr ? &sr->Ogr() : nullptr);
}

void Geometry::Project(const SpatialReferencePtr& target) {
    if (!g_ || !target) return;
    if (!g_->getSpatialReference() || g_->getSpatialReference()->IsSame(&target->Ogr())) {
        AssignCopy(g_.get(), &target->Ogr());
        return;
    }
    std::unique_ptr<OGRCoordinateTransformation> ct(
        OGRCreateCoordinateTransformation(g_->getSpatialReference(), &target->Ogr()));
    if (!ct || g_->transform(ct.get()) != OGRERR_NONE) RaiseGdal("The geometry could not be projected");
    AssignCopy(g_.get(), &target->Ogr());
}

std::string Geometry::ToWkt() const { return g_ ? g_->exportToWkt() : ""; }
std::unique_ptr<OGRGeometry> Geometry::Release() { return std::move(g_); }

// ---------------- Fields ----------------

FieldPtr NewField(const std::string& name, FieldType type, const std::string& alias, int length, int precision,
                  int scale) {
    auto f = std::make_shared<Field>();
    f->name = name;
    f->alias = alias.empty() ? name : alias;
    f->type = type;
    f->length = length;
    f->precision = precision;
    f->scale = scale;
    return f;
}

const FieldPtr& Fields::GetField(long index) const {
    if (index < 0 || index >= FieldCount()) Raise(kErrSubscript, "Field index out of range", "PXGIS");
    return fields_[index];
}

long Fields::FindField(const std::string& name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (IEquals(fields_[i]->name, name)) return static_cast<long>(i);
    return -1;
}

// ---------------- Row ----------------

namespace {
// A text as a dBASE field of the given width holds it: the width counts
// bytes of the table's encoding, one per character in the one-byte
// encodings a table is written in by default, and a longer text is cut,
// never split inside a character.
std::string FitDbaseText(const std::string& utf8, int width, bool bytePerCharacter) {
    if (width <= 0) return utf8;
    size_t end = 0, used = 0;
    while (end < utf8.size()) {
        size_t next = end + 1;
        while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
        size_t cost = bytePerCharacter ? 1 : next - end;
        if (used + cost > static_cast<size_t>(width)) break;
        used += cost;
        end = next;
    }
    return utf8.substr(0, end);
}
}  // namespace

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
            std::string text = v.ToString();
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

// ---------------- Cursor ----------------

Cursor::Cursor(std::shared_ptr<const Table> table, std::shared_ptr<GDALDataset> ds, OGRLayer* layer, bool recycling)
    : table_(std::move(table)), ds_(std::move(ds)), layer_(layer), recycling_(recycling) {}
Cursor::Cursor(std::shared_ptr<const Table> table, std::shared_ptr<GDALDataset> ds, OGRLayer* layer,
               std::vector<long long> ids, bool recycling)
    : table_(std::move(table)), ds_(std::move(ds)), layer_(layer), recycling_(recycling), byId_(true), ids_(std::move(ids)) {}
Cursor::~Cursor() = default;

RowPtr Cursor::NextRow() {
    OGRFeature* f = nullptr;
    if (byId_) {
        while (!f && next_ < ids_.size()) f = layer_->GetFeature(static_cast<GIntBig>(ids_[next_++]));
    } else {
        f = layer_->GetNextFeature();
    }
    if (!f) {
        current_.reset();
        return nullptr;
    }
    if (recycling_ && current_) {
        current_->Reset(std::unique_ptr<OGRFeature>(f));
        return current_;
    }
    current_ = std::make_shared<Row>(table_, std::unique_ptr<OGRFeature>(f));
    return current_;
}

// ---------------- InsertCursor ----------------

InsertCursor::InsertCursor(std::shared_ptr<Table> table, bool buffered) : table_(std::move(table)), buffered_(buffered) {
    if (buffered_ && table_->ws_ && table_->ws_->Kind() == WorkspaceKind::GeoPackage) {
        inTransaction_ = table_->ds_->StartTransaction() == OGRERR_NONE;
    }
}

InsertCursor::~InsertCursor() {
    try {
        Flush();
    } catch (...) {
    }
}

RowPtr InsertCursor::CreateBuffer() {
    return std::make_shared<Row>(table_, std::unique_ptr<OGRFeature>(new OGRFeature(table_->layer_->GetLayerDefn())));
}

long InsertCursor::Insert(const Row& buffer) {
    OGRFeature* f = buffer.Ogr();
    f->SetFID(OGRNullFID);
    if (table_->layer_->CreateFeature(f) != OGRERR_NONE) RaiseGdal("The row could not be written to " + table_->Name());
    ++pending_;
    return static_cast<long>(f->GetFID());
}

void InsertCursor::Flush() {
    if (inTransaction_) {
        inTransaction_ = false;
        if (table_->ds_->CommitTransaction() != OGRERR_NONE) RaiseGdal("The rows could not be committed");
    }
    table_->countDs_.reset();
    if (pending_) {
        table_->layer_->SyncToDisk();
        pending_ = 0;
    }
}

// ---------------- Table ----------------

Table::Table(std::shared_ptr<Workspace> ws, std::string name, std::shared_ptr<GDALDataset> ds, OGRLayer* layer,
             std::string shapeFieldName)
    : ws_(std::move(ws)), name_(std::move(name)), ds_(std::move(ds)), layer_(layer), shapeField_(std::move(shapeFieldName)) {
    BuildFields();
}
Table::~Table() = default;

namespace {
// Formats that do not declare one shape type (GeoJSON mixing polygons and
// multipolygons, say): the kind the first shapes share, if they share one.
GeometryType SampledShapeType(OGRLayer* layer) {
    GeometryType kind = kGeomNull;
    layer->ResetReading();
    int seen = 0;
    while (seen < 100) {
        std::unique_ptr<OGRFeature> f(layer->GetNextFeature());
        if (!f) break;
        const OGRGeometry* g = f->GetGeometryRef();
        if (!g || g->IsEmpty()) continue;
        GeometryType t = FromOgrGeomType(g->getGeometryType());
        if (seen++ == 0) kind = t;
        else if (t != kind) kind = kGeomNull;
        if (kind == kGeomNull) break;
    }
    layer->ResetReading();
    return kind;
}
}  // namespace

void Table::BuildFields() {
    fields_ = std::make_shared<Fields>();
    const char* fid = layer_->GetFIDColumn();
    oidField_ = (fid && *fid) ? fid : "FID";
    fields_->AddField(NewField(oidField_, kFieldOID, "Object ID"));
    OGRFeatureDefn* defn = layer_->GetLayerDefn();
    if (defn->GetGeomFieldCount() > 0 && layer_->GetGeomType() != wkbNone) {
        if (shapeField_.empty()) {
            const char* g = layer_->GetGeometryColumn();
            shapeField_ = (g && *g) ? g : "Shape";
        }
        auto f = NewField(shapeField_, kFieldGeometry, "geometry");
        shapeType_ = FromOgrGeomType(layer_->GetGeomType());
        if (shapeType_ == kGeomNull) shapeType_ = SampledShapeType(layer_);
        f->geometryDef.type = shapeType_;
        if (auto sr = layer_->GetSpatialRef()) f->geometryDef.spatialReference = std::make_shared<SpatialReference>(*sr);
        fields_->AddField(f);
        attrOffset_ = 2;
    } else {
        shapeField_.clear();
        attrOffset_ = 1;
    }
    for (int i = 0; i < defn->GetFieldCount(); ++i) {
        OGRFieldDefn* fd = defn->GetFieldDefn(i);
        FieldType t = kFieldString;
        switch (fd->GetType()) {
            case OFTInteger: t = fd->GetSubType() == OFSTInt16 ? kFieldSmallInteger : kFieldInteger; break;
            case OFTInteger64: t = kFieldInteger; break;
            case OFTReal: t = fd->GetSubType() == OFSTFloat32 ? kFieldSingle : kFieldDouble; break;
            case OFTDate:
            case OFTDateTime: t = kFieldDate; break;
            default: t = kFieldString;
        }
        auto f = NewField(fd->GetNameRef(), t, fd->GetAlternativeNameRef() && *fd->GetAlternativeNameRef()
                                                      ? fd->GetAlternativeNameRef()
                                                      : fd->GetNameRef(),
                          t == kFieldString ? fd->GetWidth() : 0, fd->GetWidth(), fd->GetPrecision());
        fields_->AddField(f);
    }
}

long Table::HostIndexToOgr(long hostIndex) const { return hostIndex < attrOffset_ ? -1 : hostIndex - attrOffset_; }

GeometryType Table::ShapeType() const { return HasShape() ? shapeType_ : kGeomNull; }

SpatialReferencePtr Table::GetSpatialReference() const {
    if (assignedSr_) return assignedSr_;
    auto sr = layer_->GetSpatialRef();
    // A GeoPackage says "undefined" with a system of that name; it is none.
    if (sr && sr->GetName() && std::string(sr->GetName()).rfind("Undefined ", 0) == 0) return nullptr;
    return sr ? std::make_shared<SpatialReference>(*sr) : nullptr;
}

void Table::AssignSpatialReference(SpatialReferencePtr sr) {
    assignedSr_ = std::move(sr);
    long shape = fields_->FindField(shapeField_);
    if (shape >= 0) fields_->GetField(shape)->geometryDef.spatialReference = assignedSr_;
}

Envelope Table::Extent() const {
    Envelope e;
    OGREnvelope oe;
    if (HasShape() && layer_->GetExtent(&oe, TRUE) == OGRERR_NONE && layer_->GetFeatureCount() > 0)
        e = {oe.MinX, oe.MinY, oe.MaxX, oe.MaxY, false};
    return e;
}

std::string Table::DataPath() const {
    if (ws_ && ws_->Kind() != WorkspaceKind::Folder) return ws_->PathName();
    return ds_ ? ds_->GetDescription() : "";
}

namespace {
void ApplyFilter(OGRLayer* layer, const Table& table, const QueryFilter* filter) {
    if (!filter) return;
    if (!Trim(filter->whereClause).empty()) {
        // Checked against the fields first, so that every kind of database
        // refuses a bad clause at once rather than on the first read.
        OGRFeatureQuery check;
        if (check.Compile(layer->GetLayerDefn(), filter->whereClause.c_str(), TRUE, nullptr) != OGRERR_NONE)
            RaiseGdal("The where-clause could not be applied to " + table.Name());
        if (layer->SetAttributeFilter(filter->whereClause.c_str()) != OGRERR_NONE)
            RaiseGdal("The where-clause could not be applied to " + table.Name());
    }
    if (filter->geometry && !filter->geometry->IsEmpty()) {
        auto g = filter->geometry;
        auto sr = table.GetSpatialReference();
        if (sr && g->Ogr()->getSpatialReference() && !g->Ogr()->getSpatialReference()->IsSame(&sr->Ogr())) {
            g = g->Clone();
            g->Project(sr);
        }
        layer->SetSpatialFilter(g->Ogr());
    }
    if (!filter->subFields.empty() && filter->subFields != "*") {
        // Fields not asked for are not read.
        std::vector<std::string> wanted;
        std::string cur;
        for (char c : filter->subFields + ",") {
            if (c == ',') {
                if (!Trim(cur).empty()) wanted.push_back(Trim(cur));
                cur.clear();
            } else {
                cur += c;
            }
        }
        OGRFeatureDefn* defn = layer->GetLayerDefn();
        std::vector<std::string> ignored;
        for (int i = 0; i < defn->GetFieldCount(); ++i) {
            std::string n = defn->GetFieldDefn(i)->GetNameRef();
            bool keep = false;
            for (auto& w : wanted) keep = keep || IEquals(w, n);
            // Fields of the where-clause must stay readable.
            keep = keep || IContains(filter->whereClause, n);
            if (!keep) ignored.push_back(n);
        }
        std::vector<const char*> ptrs;
        for (auto& s : ignored) ptrs.push_back(s.c_str());
        ptrs.push_back(nullptr);
        layer->SetIgnoredFields(ptrs.data());
    }
}
}  // namespace

CursorPtr Table::SearchByKey(const QueryFilter& filter, bool recycling) const {
    // FIELD = 'text', nothing else.
    const std::string& w = filter.whereClause;
    size_t eq = w.find('=');
    if (eq == std::string::npos || filter.geometry) return nullptr;
    std::string field = Trim(w.substr(0, eq)), rest = Trim(w.substr(eq + 1));
    if (field.empty() || rest.size() < 2 || rest.front() != '\'' || rest.back() != '\'') return nullptr;
    std::string key = rest.substr(1, rest.size() - 2);
    if (key.find('\'') != std::string::npos) return nullptr;
    for (char c : field)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return nullptr;
    long index = FindField(field);
    if (index < 0 || fields_->GetField(index)->type != kFieldString) return nullptr;
    long ogrIndex = HostIndexToOgr(index);
    if (ogrIndex < 0) return nullptr;
    if (!keyDs_) {
        keyDs_ = Wrap(static_cast<GDALDataset*>(
            GDALOpenEx(DataPath().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
        if (!keyDs_) return nullptr;
        keyLayer_ = keyDs_->GetLayerByName(name_.c_str());
        if (!keyLayer_ && keyDs_->GetLayerCount() == 1) keyLayer_ = keyDs_->GetLayer(0);
        if (!keyLayer_) {
            keyDs_.reset();
            return nullptr;
        }
    }
    auto& values = keyIndex_[index];
    if (values.empty()) {
        // One scan of the key column only.
        std::vector<std::string> ignored;
        OGRFeatureDefn* defn = keyLayer_->GetLayerDefn();
        for (int i = 0; i < defn->GetFieldCount(); ++i)
            if (i != ogrIndex) ignored.push_back(defn->GetFieldDefn(i)->GetNameRef());
        ignored.push_back("OGR_GEOMETRY");
        std::vector<const char*> list;
        for (auto& n : ignored) list.push_back(n.c_str());
        list.push_back(nullptr);
        keyLayer_->SetIgnoredFields(list.data());
        keyLayer_->SetAttributeFilter(nullptr);
        keyLayer_->SetSpatialFilter(nullptr);
        keyLayer_->ResetReading();
        while (OGRFeature* f = keyLayer_->GetNextFeature()) {
            values[f->GetFieldAsString(static_cast<int>(ogrIndex))].push_back(f->GetFID());
            OGRFeature::DestroyFeature(f);
        }
        keyLayer_->SetIgnoredFields(nullptr);
        keySubFields_ = "*";
        values.emplace("", std::vector<long long>{});  // marks the index as built
    }
    auto it = values.find(key);
    std::vector<long long> ids = it == values.end() ? std::vector<long long>{} : it->second;
    // Only the fields asked for are read; the shared connection remembers
    // the last choice so that a run of equal searches sets it once.
    if (filter.subFields != keySubFields_) {
        keyLayer_->SetIgnoredFields(nullptr);
        QueryFilter fieldsOnly;
        fieldsOnly.subFields = filter.subFields;
        ApplyFilter(keyLayer_, *this, &fieldsOnly);
        keySubFields_ = filter.subFields;
    }
    return std::make_shared<Cursor>(std::static_pointer_cast<const Table>(shared_from_this()), keyDs_, keyLayer_,
                                    std::move(ids), recycling);
}

CursorPtr Table::Search(const QueryFilter* filter, bool recycling) const {
    if (filter && !filter->whereClause.empty())
        if (auto byKey = SearchByKey(*filter, recycling)) return byKey;
    // Each cursor reads through a connection of its own so that cursors do
    // not disturb one another.
    std::shared_ptr<GDALDataset> ds = Wrap(static_cast<GDALDataset*>(
        GDALOpenEx(DataPath().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
    if (!ds) RaiseGdal("The dataset " + name_ + " could not be opened for reading");
    OGRLayer* layer = ds->GetLayerByName(name_.c_str());
    if (!layer && ds->GetLayerCount() == 1) layer = ds->GetLayer(0);
    if (!layer) RaiseGdal("The dataset " + name_ + " could not be opened for reading");
    ApplyFilter(layer, *this, filter);
    layer->ResetReading();
    return std::make_shared<Cursor>(std::static_pointer_cast<const Table>(shared_from_this()), ds, layer, recycling);
}

long Table::RowCount(const QueryFilter* filter) const {
    if (!filter) return static_cast<long>(layer_->GetFeatureCount());
    // Counts come often (one per area in a profile): they share one reading
    // connection, opened on first use and dropped when rows are added.
    if (!countDs_) {
        countDs_ = Wrap(static_cast<GDALDataset*>(
            GDALOpenEx(DataPath().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
        if (!countDs_) RaiseGdal("The dataset " + name_ + " could not be opened");
        countLayer_ = countDs_->GetLayerByName(name_.c_str());
        if (!countLayer_ && countDs_->GetLayerCount() == 1) countLayer_ = countDs_->GetLayer(0);
        if (!countLayer_) {
            countDs_.reset();
            RaiseGdal("The dataset " + name_ + " could not be opened");
        }
    }
    countLayer_->SetAttributeFilter(nullptr);
    countLayer_->SetSpatialFilter(nullptr);
    countLayer_->SetIgnoredFields(nullptr);
    ApplyFilter(countLayer_, *this, filter);
    return static_cast<long>(countLayer_->GetFeatureCount());
}

InsertCursorPtr Table::Insert(bool buffered) {
    keyIndex_.clear();
    keyDs_.reset();
    keyLayer_ = nullptr;
    if (!layer_->TestCapability(OLCSequentialWrite)) Raise(kErrInvalidCall, "The dataset " + name_ + " is read-only", "PXGIS");
    return std::make_shared<InsertCursor>(std::static_pointer_cast<Table>(shared_from_this()), buffered);
}

RowPtr Table::GetRow(long oid) const {
    OGRFeature* f = layer_->GetFeature(oid);
    if (!f) return nullptr;
    return std::make_shared<Row>(std::static_pointer_cast<const Table>(shared_from_this()), std::unique_ptr<OGRFeature>(f));
}

void Table::AddIndex(const std::string& indexName, const std::string& fieldName) {
    bool gpkg = ws_ && ws_->Kind() == WorkspaceKind::GeoPackage;
    std::string sql;
    if (HasShape() && IEquals(fieldName, shapeField_)) {
        sql = gpkg ? "SELECT CreateSpatialIndex('" + name_ + "','" + std::string(layer_->GetGeometryColumn()) + "')"
                   : "CREATE SPATIAL INDEX ON \"" + name_ + "\"";
    } else {
        if (FindField(fieldName) < 0) Raise(kErrInvalidCall, "No field " + fieldName + " to index in " + name_, "PXGIS");
        sql = gpkg ? "CREATE INDEX IF NOT EXISTS \"" + name_ + "_" + indexName + "\" ON \"" + name_ + "\"(\"" + fieldName + "\")"
                   : "CREATE INDEX ON \"" + name_ + "\" USING \"" + fieldName + "\"";
    }
    OGRLayer* res = ds_->ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (res) ds_->ReleaseResultSet(res);
    std::string err = LastGdalError();
    if (!err.empty()) Raise(kErrInvalidCall, "The index could not be created on " + name_ + ": " + err, "PXGIS");
}

bool Table::HasSpatialIndex() const {
    if (ws_ && ws_->Kind() == WorkspaceKind::GeoPackage) {
        std::string sql = "SELECT HasSpatialIndex('" + name_ + "','" + std::string(layer_->GetGeometryColumn()) + "')";
        OGRLayer* res = ds_->ExecuteSQL(sql.c_str(), nullptr, "SQLITE");
        bool has = false;
        if (res) {
            if (OGRFeature* f = res->GetNextFeature()) {
                has = f->GetFieldAsInteger(0) != 0;
                OGRFeature::DestroyFeature(f);
            }
            ds_->ReleaseResultSet(res);
        }
        return has;
    }
    if (ws_ && ws_->Kind() == WorkspaceKind::File) return layer_->TestCapability(OLCFastSpatialFilter);
    fs::path p(DataPath());
    p.replace_extension(".qix");
    return fs::exists(p);
}

void Table::Close() {
    countDs_.reset();
    layer_ = nullptr;
    ds_.reset();
}

// ---------------- Workspace ----------------

WorkspacePtr Workspace::OpenFolder(const std::string& folder) {
    EnsureGdal();
    if (!fs::is_directory(folder)) Raise(kErrPathNotFound, "Path not found: " + folder, "PXGIS");
    auto ws = std::make_shared<Workspace>();
    ws->kind_ = WorkspaceKind::Folder;
    ws->path_ = fs::absolute(folder).lexically_normal().string();
    while (ws->path_.size() > 1 && ws->path_.back() == '/') ws->path_.pop_back();
    return ws;
}

WorkspacePtr Workspace::CreateGeoPackage(const std::string& folder, const std::string& name) {
    EnsureGdal();
    fs::path p = fs::path(folder) / name;
    if (p.extension() != ".gpkg") p += ".gpkg";
    if (fs::exists(p)) return OpenGeoPackage(p.string());
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!drv) Raise(kErrCannotCreate, "The GeoPackage driver is not available", "PXGIS");
    GDALDataset* ds = drv->Create(p.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!ds) RaiseGdal("The database " + p.string() + " could not be created");
    GDALClose(GDALDataset::ToHandle(ds));
    return OpenGeoPackage(p.string());
}

WorkspacePtr Workspace::OpenGeoPackage(const std::string& path) {
    EnsureGdal();
    std::string abs = fs::absolute(path).lexically_normal().string();
    auto ws = std::make_shared<Workspace>();
    ws->kind_ = WorkspaceKind::GeoPackage;
    ws->path_ = abs;
    auto& cache = GpkgCache();
    if (auto it = cache.find(abs); it != cache.end()) ws->db_ = it->second.lock();
    if (!ws->db_) {
        const char* drivers[] = {"GPKG", nullptr};
        ws->db_ = Wrap(static_cast<GDALDataset*>(
            GDALOpenEx(abs.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr)));
        if (!ws->db_) RaiseGdal("The database " + abs + " could not be opened");
        cache[abs] = ws->db_;
    }
    return ws;
}

WorkspacePtr Workspace::OpenFile(const std::string& path) {
    EnsureGdal();
    std::string abs = fs::absolute(path).lexically_normal().string();
    if (!fs::exists(abs)) Raise(kErrFileNotFound, "The file " + path + " does not exist", "PXGIS");
    if (!fs::is_regular_file(abs)) Raise(kErrFileNotFound, path + " is not a file", "PXGIS");
    auto ws = std::make_shared<Workspace>();
    ws->kind_ = WorkspaceKind::File;
    ws->path_ = abs;
    ws->db_ = Wrap(static_cast<GDALDataset*>(GDALOpenEx(abs.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
    if (!ws->db_) RaiseGdal("The file " + path + " is not a layer GDAL can read");
    return ws;
}

bool Workspace::DatasetExists(const std::string& name) const {
    if (kind_ != WorkspaceKind::Folder) return db_->GetLayerByName(name.c_str()) != nullptr;
    return fs::exists(fs::path(path_) / (name + ".shp")) || fs::exists(fs::path(path_) / (name + ".dbf"));
}

std::vector<std::string> Workspace::DatasetNames() const {
    std::vector<std::string> names;
    if (kind_ != WorkspaceKind::Folder) {
        for (int i = 0; i < db_->GetLayerCount(); ++i) names.push_back(db_->GetLayer(i)->GetName());
        return names;
    }
    for (auto& e : fs::directory_iterator(path_)) {
        auto ext = LCase(e.path().extension().string());
        if (ext == ".shp") names.push_back(e.path().stem().string());
        if (ext == ".dbf" && !fs::exists(fs::path(e.path()).replace_extension(".shp")))
            names.push_back(e.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TablePtr Workspace::OpenAny(const std::string& name, bool needShape) {
    auto self = std::static_pointer_cast<Workspace>(shared_from_this());
    if (kind_ != WorkspaceKind::Folder) {
        OGRLayer* layer = db_->GetLayerByName(name.c_str());
        if (!layer) Raise(kErrInvalidCall, "No dataset " + name + " in " + path_, "PXGIS");
        auto t = std::make_shared<Table>(self, name, db_, layer, "");
        if (needShape && !t->HasShape()) Raise(kErrInvalidCall, name + " is not a feature class", "PXGIS");
        return t;
    }
    fs::path shp = fs::path(path_) / (name + ".shp");
    fs::path dbf = fs::path(path_) / (name + ".dbf");
    fs::path file = fs::exists(shp) ? shp : dbf;
    if (!fs::exists(file) || (needShape && file == dbf))
        Raise(kErrFileNotFound, "No " + std::string(needShape ? "feature class " : "table ") + name + " in " + path_, "PXGIS");
    const char* drivers[] = {"ESRI Shapefile", nullptr};
    auto ds = Wrap(static_cast<GDALDataset*>(
        GDALOpenEx(file.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr)));
    if (!ds)
        ds = Wrap(static_cast<GDALDataset*>(
            GDALOpenEx(file.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr)));
    if (!ds || ds->GetLayerCount() < 1) RaiseGdal("The dataset " + file.string() + " could not be opened");
    LastGdalError();
    return std::make_shared<Table>(self, name, ds, ds->GetLayer(0), "");
}

FeatureClassPtr Workspace::OpenFeatureClass(const std::string& name) { return OpenAny(name, true); }
TablePtr Workspace::OpenTable(const std::string& name) { return OpenAny(name, false); }

namespace {
void AddOgrFields(OGRLayer* layer, const Fields& fields) {
    for (long i = 0; i < fields.FieldCount(); ++i) {
        const auto& f = fields.GetField(i);
        if (f->type == kFieldOID || f->type == kFieldGeometry) continue;
        OGRFieldType t = OFTString;
        OGRFieldSubType st = OFSTNone;
        int width = 0, prec = 0;
        switch (f->type) {
            case kFieldSmallInteger: t = OFTInteger; st = OFSTInt16; width = f->precision ? f->precision : 6; break;
            case kFieldInteger: t = OFTInteger; width = f->precision ? f->precision : 10; break;
            case kFieldSingle:
            case kFieldDouble: {
                t = OFTReal;
                // The stored width is the field's length, or its precision
                // when it has no length (a dBASE N(width, scale) counts the
                // sign and the point in its width). A double that states
                // neither gets room for any count with eight decimals.
                bool sized = f->length > 0 || f->precision > 0;
                width = f->length > 0 ? f->length : f->precision > 0 ? f->precision : 24;
                prec = sized ? std::max(f->scale, 0) : (f->scale > 0 ? f->scale : 8);
                // dBASE keeps at most 15 decimals, and a digit and the point
                // before them.
                prec = std::min({prec, 15, std::max(width - 2, 0)});
                break;
            }
            case kFieldDate: t = OFTDate; break;
            default: t = OFTString; width = f->length > 0 ? f->length : 50; break;
        }
        OGRFieldDefn fd(f->name.c_str(), t);
        fd.SetSubType(st);
        fd.SetWidth(width);
        fd.SetPrecision(prec);
        if (!f->alias.empty() && f->alias != f->name) fd.SetAlternativeName(f->alias.c_str());
        if (layer->CreateField(&fd) != OGRERR_NONE) RaiseGdal("The field " + f->name + " could not be created");
    }
}
}  // namespace

void Table::AddField(const FieldPtr& field) {
    if (FindField(field->name) >= 0) Raise(kErrInvalidCall, "The table " + name_ + " has a field " + field->name + " already", "PXGIS");
    Fields one;
    one.AddField(field);
    AddOgrFields(layer_, one);
    layer_->SyncToDisk();
    keyIndex_.clear();
    keyDs_.reset();
    keyLayer_ = nullptr;
    countDs_.reset();
    countLayer_ = nullptr;
    BuildFields();
}

void Table::UpdateRow(const Row& row) {
    // Rows come from cursors of their own connection: the values are copied
    // onto this table's feature of the same id.
    OGRFeature* src = row.Ogr();
    std::unique_ptr<OGRFeature> f(layer_->GetFeature(src->GetFID()));
    if (!f) Raise(kErrInvalidCall, "Row " + std::to_string(src->GetFID()) + " is not in " + name_, "PXGIS");
    for (int i = 0; i < src->GetFieldCount() && i < f->GetFieldCount(); ++i) {
        if (!src->IsFieldSetAndNotNull(i)) continue;
        f->SetField(i, src->GetRawFieldRef(i));
    }
    if (layer_->SetFeature(f.get()) != OGRERR_NONE) RaiseGdal("Row " + std::to_string(src->GetFID()) + " of " + name_ + " could not be written");
    layer_->SyncToDisk();
    keyIndex_.clear();
}

FeatureClassPtr Workspace::CreateFeatureClass(const std::string& name, const Fields& fields, const std::string& shapeField) {
    if (kind_ == WorkspaceKind::File) Raise(kErrInvalidCall, path_ + " is read-only here: " + name + " cannot be changed", "PXGIS");
    if (DatasetExists(name)) Raise(kErrInvalidCall, "A dataset named " + name + " already exists in " + path_, "PXGIS");
    long gi = fields.FindField(shapeField);
    if (gi < 0 || fields.GetField(gi)->type != kFieldGeometry)
        Raise(kErrInvalidCall, "The field list has no geometry field " + shapeField, "PXGIS");
    const GeometryDef& gd = fields.GetField(gi)->geometryDef;
    OGRSpatialReference* srs = gd.spatialReference ? &gd.spatialReference->Ogr() : nullptr;
    auto self = std::static_pointer_cast<Workspace>(shared_from_this());
    if (kind_ == WorkspaceKind::GeoPackage) {
        std::string oid = "fid";
        for (long i = 0; i < fields.FieldCount(); ++i)
            if (fields.GetField(i)->type == kFieldOID) oid = fields.GetField(i)->name;
        std::string fidOpt = "FID=" + oid, geomOpt = "GEOMETRY_NAME=" + shapeField;
        const char* opts[] = {fidOpt.c_str(), geomOpt.c_str(), "SPATIAL_INDEX=NO", nullptr};
        OGRLayer* layer = db_->CreateLayer(name.c_str(), srs, ToOgrGeomType(gd.type, true), const_cast<char**>(opts));
        if (!layer) RaiseGdal("The feature class " + name + " could not be created");
        AddOgrFields(layer, fields);
        return std::make_shared<Table>(self, name, db_, layer, shapeField);
    }
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    fs::path file = fs::path(path_) / (name + ".shp");
    auto ds = Wrap(drv->Create(file.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) RaiseGdal("The feature class " + file.string() + " could not be created");
    OGRLayer* layer = ds->CreateLayer(name.c_str(), srs, ToOgrGeomType(gd.type, false), nullptr);
    if (!layer) RaiseGdal("The feature class " + file.string() + " could not be created");
    AddOgrFields(layer, fields);
    return std::make_shared<Table>(self, name, ds, layer, shapeField);
}

TablePtr Workspace::CreateTable(const std::string& name, const Fields& fields) {
    if (kind_ == WorkspaceKind::File) Raise(kErrInvalidCall, path_ + " is read-only here: " + name + " cannot be changed", "PXGIS");
    if (DatasetExists(name)) Raise(kErrInvalidCall, "A dataset named " + name + " already exists in " + path_, "PXGIS");
    auto self = std::static_pointer_cast<Workspace>(shared_from_this());
    if (kind_ == WorkspaceKind::GeoPackage) {
        OGRLayer* layer = db_->CreateLayer(name.c_str(), nullptr, wkbNone, nullptr);
        if (!layer) RaiseGdal("The table " + name + " could not be created");
        AddOgrFields(layer, fields);
        return std::make_shared<Table>(self, name, db_, layer, "");
    }
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    fs::path file = fs::path(path_) / (name + ".dbf");
    auto ds = Wrap(drv->Create(file.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) RaiseGdal("The table " + file.string() + " could not be created");
    OGRLayer* layer = ds->CreateLayer(name.c_str(), nullptr, wkbNone, nullptr);
    if (!layer) RaiseGdal("The table " + file.string() + " could not be created");
    AddOgrFields(layer, fields);
    return std::make_shared<Table>(self, name, ds, layer, "");
}

void Workspace::DeleteDataset(const std::string& name) {
    if (kind_ == WorkspaceKind::File) Raise(kErrInvalidCall, path_ + " is read-only here: " + name + " cannot be changed", "PXGIS");
    if (kind_ == WorkspaceKind::GeoPackage) {
        for (int i = 0; i < db_->GetLayerCount(); ++i) {
            if (IEquals(db_->GetLayer(i)->GetName(), name)) {
                if (db_->DeleteLayer(i) != OGRERR_NONE) RaiseGdal("The dataset " + name + " could not be deleted");
                return;
            }
        }
        Raise(kErrInvalidCall, "No dataset " + name + " in " + path_, "PXGIS");
    }
    bool any = false;
    for (const char* ext : kShapefileSidecars) {
        fs::path p = fs::path(path_) / (name + ext);
        std::error_code ec;
        if (fs::remove(p, ec)) any = true;
    }
    if (!any) Raise(kErrFileNotFound, "No dataset " + name + " in " + path_, "PXGIS");
}

// ---------------- layer sources ----------------

LayerSource LayerSource::Parse(const std::string& spec) {
    LayerSource s;
    auto bar = spec.rfind('|');
    s.file = bar == std::string::npos ? spec : spec.substr(0, bar);
    if (bar != std::string::npos) s.layer = spec.substr(bar + 1);
    return s;
}

TablePtr OpenLayerSource(const LayerSource& source) {
    EnsureGdal();
    fs::path p(source.file);
    if (source.file.empty()) Raise(kErrFileNotFound, "No layer file was given", "PXGIS");
    if (!fs::exists(p)) Raise(kErrFileNotFound, "The layer file " + source.file + " does not exist", "PXGIS");
    if (fs::is_directory(p)) Raise(kErrFileNotFound, source.file + " is a folder, not a layer file", "PXGIS");
    if (!fs::is_regular_file(p)) Raise(kErrFileNotFound, source.file + " is not a regular file", "PXGIS");
    std::string ext = LCase(p.extension().string());
    if (ext == ".shp" || ext == ".dbf") {
        auto ws = Workspace::OpenFolder(p.parent_path().empty() ? "." : p.parent_path().string());
        return ext == ".shp" ? ws->OpenFeatureClass(p.stem().string()) : ws->OpenTable(p.stem().string());
    }
    WorkspacePtr ws = ext == ".gpkg" ? Workspace::OpenGeoPackage(source.file) : Workspace::OpenFile(source.file);
    std::string name = source.layer;
    if (name.empty()) {
        auto names = ws->DatasetNames();
        if (names.size() != 1) {
            std::string list;
            for (auto& n : names) list += (list.empty() ? "" : ", ") + n;
            Raise(kErrInvalidCall, source.file + " holds " + std::to_string(names.size()) +
                                       " layers; name one as " + source.file + "|LAYER (" + list + ")",
                  "PXGIS");
        }
        name = names.front();
    }
    if (!ws->DatasetExists(name)) Raise(kErrInvalidCall, "No layer " + name + " in " + source.file, "PXGIS");
    return ws->OpenTable(name);
}

}  // namespace host::gis
