#include "host/gis/Table.h"

#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_swq.h>
#include <ogrsf_frmts.h>

#include <cctype>
#include <filesystem>

#include "host/gis/GdalSupport.h"
#include "host/gis/PgConnection.h"
#include "host/gis/Workspace.h"

namespace fs = std::filesystem;

namespace host::gis {

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
    // A table of a database as a layer source names it: "PG:...|table".
    if (ws_ && ws_->Kind() == WorkspaceKind::PostGIS) return ws_->PathName() + "|" + name_;
    if (ws_ && ws_->Kind() != WorkspaceKind::Folder) return ws_->PathName();
    return ds_ ? ds_->GetDescription() : "";
}

Table::Reader Table::OpenReader() const {
    std::string path = ws_ && ws_->Kind() == WorkspaceKind::PostGIS ? ws_->PathName() : DataPath();
    Reader r;
    r.dataset = WrapDataset(
        static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
    if (!r.dataset) return r;
    r.layer = r.dataset->GetLayerByName(name_.c_str());
    if (!r.layer && r.dataset->GetLayerCount() == 1) r.layer = r.dataset->GetLayer(0);
    if (!r.layer) r.dataset.reset();
    return r;
}

namespace {
bool InDatabase(const Table& table) { return table.GetWorkspace() && table.GetWorkspace()->Kind() == WorkspaceKind::PostGIS; }

void ApplyFilter(OGRLayer* layer, const Table& table, const QueryFilter* filter) {
    if (!filter) return;
    std::string clause = Trim(filter->whereClause).empty() ? "" : filter->whereClause;
    if (!clause.empty()) {
        // Checked against the fields first, so that every kind of database
        // refuses a bad clause at once rather than on the first read.
        OGRFeatureQuery check;
        if (check.Compile(layer->GetLayerDefn(), clause.c_str(), TRUE, nullptr) != OGRERR_NONE)
            RaiseGdal("The where-clause could not be applied to " + table.Name());
    }
    GeometryPtr g;
    if (filter->geometry && !filter->geometry->IsEmpty()) {
        g = filter->geometry;
        auto sr = table.GetSpatialReference();
        if (sr && g->Ogr()->getSpatialReference() && !g->Ogr()->getSpatialReference()->IsSame(&sr->Ogr())) {
            g = g->Clone();
            g->Project(sr);
        }
    }
    // A database tests the shapes itself, with its spatial index, beside the clause.
    if (g && InDatabase(table)) {
        std::string meets = table.GetWorkspace()->IntersectsCondition(table.Name(), layer->GetGeometryColumn(), *g);
        clause = clause.empty() ? meets : "(" + clause + ") AND " + meets;
        g.reset();
    }
    if (!clause.empty() && layer->SetAttributeFilter(clause.c_str()) != OGRERR_NONE)
        RaiseGdal("The where-clause could not be applied to " + table.Name());
    if (g) layer->SetSpatialFilter(g->Ogr());
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
    if (!keyReader_.layer) {
        keyReader_ = OpenReader();
        if (!keyReader_.layer) return nullptr;
    }
    auto& values = keyIndex_[index];
    if (values.empty()) {
        // One scan of the key column only.
        std::vector<std::string> ignored;
        OGRFeatureDefn* defn = keyReader_.layer->GetLayerDefn();
        for (int i = 0; i < defn->GetFieldCount(); ++i)
            if (i != ogrIndex) ignored.push_back(defn->GetFieldDefn(i)->GetNameRef());
        ignored.push_back("OGR_GEOMETRY");
        std::vector<const char*> list;
        for (auto& n : ignored) list.push_back(n.c_str());
        list.push_back(nullptr);
        keyReader_.layer->SetIgnoredFields(list.data());
        keyReader_.layer->SetAttributeFilter(nullptr);
        keyReader_.layer->SetSpatialFilter(nullptr);
        keyReader_.layer->ResetReading();
        while (OGRFeature* f = keyReader_.layer->GetNextFeature()) {
            values[f->GetFieldAsString(static_cast<int>(ogrIndex))].push_back(f->GetFID());
            OGRFeature::DestroyFeature(f);
        }
        keyReader_.layer->SetIgnoredFields(nullptr);
        keySubFields_ = "*";
        values.emplace("", std::vector<long long>{});  // marks the index as built
    }
    auto it = values.find(key);
    std::vector<long long> ids = it == values.end() ? std::vector<long long>{} : it->second;
    // Only the fields asked for are read; the shared connection remembers
    // the last choice so that a run of equal searches sets it once.
    if (filter.subFields != keySubFields_) {
        keyReader_.layer->SetIgnoredFields(nullptr);
        QueryFilter fieldsOnly;
        fieldsOnly.subFields = filter.subFields;
        ApplyFilter(keyReader_.layer, *this, &fieldsOnly);
        keySubFields_ = filter.subFields;
    }
    return std::make_shared<Cursor>(std::static_pointer_cast<const Table>(shared_from_this()), keyReader_.dataset,
                                    keyReader_.layer, std::move(ids), recycling);
}

CursorPtr Table::Search(const QueryFilter* filter, bool recycling) const {
    // A database answers by its own indexes, the clause and the extent run there.
    if (filter && !filter->whereClause.empty() && !InDatabase(*this))
        if (auto byKey = SearchByKey(*filter, recycling)) return byKey;
    // Each cursor reads through a connection of its own so that cursors do
    // not disturb one another.
    auto reader = OpenReader();
    if (!reader.layer) RaiseGdal("The dataset " + name_ + " could not be opened for reading");
    ApplyFilter(reader.layer, *this, filter);
    reader.layer->ResetReading();
    return std::make_shared<Cursor>(std::static_pointer_cast<const Table>(shared_from_this()), reader.dataset,
                                    reader.layer, recycling);
}

long Table::RowCount(const QueryFilter* filter) const {
    if (!filter) return static_cast<long>(layer_->GetFeatureCount());
    // Counts come often (one per area in a profile): they share one reading
    // connection, opened on first use and dropped when rows are added.
    if (!counter_.layer) {
        counter_ = OpenReader();
        if (!counter_.layer) RaiseGdal("The dataset " + name_ + " could not be opened");
    }
    counter_.layer->SetAttributeFilter(nullptr);
    counter_.layer->SetSpatialFilter(nullptr);
    counter_.layer->SetIgnoredFields(nullptr);
    ApplyFilter(counter_.layer, *this, filter);
    return static_cast<long>(counter_.layer->GetFeatureCount());
}

InsertCursorPtr Table::Insert(bool buffered) {
    keyIndex_.clear();
    keyReader_ = Reader();
    if (!layer_->TestCapability(OLCSequentialWrite)) Raise(kErrInvalidCall, "The dataset " + name_ + " is read-only", "PXGIS");
    return std::make_shared<InsertCursor>(std::static_pointer_cast<Table>(shared_from_this()), buffered);
}

RowPtr Table::GetRow(long oid) const {
    OGRFeature* f = layer_->GetFeature(oid);
    if (!f) return nullptr;
    return std::make_shared<Row>(std::static_pointer_cast<const Table>(shared_from_this()), std::unique_ptr<OGRFeature>(f));
}

void Table::AddIndex(const std::string& indexName, const std::string& fieldName) {
    if (InDatabase(*this)) {
        // The spatial index comes with the table.
        bool spatial = HasShape() && IEquals(fieldName, shapeField_);
        if (spatial && HasSpatialIndex()) return;
        if (!spatial && FindField(fieldName) < 0) Raise(kErrInvalidCall, "No field " + fieldName + " to index in " + name_, "PXGIS");
        ExecutePg(*ds_, "CREATE INDEX ON " + ws_->SqlName(name_) + (spatial ? " USING GIST" : "") + " (" +
                            QuotePgIdentifier(spatial ? std::string(layer_->GetGeometryColumn()) : fieldName) + ")",
                  "The index could not be created on " + name_);
        return;
    }
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
    if (InDatabase(*this))
        return !QueryPg(*ds_, "SELECT 1 FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid JOIN pg_am a ON a.oid = "
                              "c.relam WHERE a.amname = 'gist' AND i.indrelid = to_regclass(" +
                                  QuotePgLiteral(ws_->SqlName(name_)) + ")")
                    .empty();
    fs::path p(DataPath());
    p.replace_extension(".qix");
    return fs::exists(p);
}

void Table::Close() {
    counter_ = Reader();
    layer_ = nullptr;
    ds_.reset();
}

void Table::AddField(const FieldPtr& field) {
    if (FindField(field->name) >= 0) Raise(kErrInvalidCall, "The table " + name_ + " has a field " + field->name + " already", "PXGIS");
    Fields one;
    one.AddField(field);
    AddOgrFields(layer_, one);
    layer_->SyncToDisk();
    keyIndex_.clear();
    keyReader_ = Reader();
    counter_ = Reader();
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

}  // namespace host::gis
