#include "host/gis/Workspace.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "host/gis/GdalSupport.h"
#include "host/gis/PgConnection.h"

namespace fs = std::filesystem;

namespace host::gis {

namespace {

const char* kShapefileSidecars[] = {".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix", ".sbn", ".sbx", ".idm", ".ind"};

// New shapefiles and dBASE tables leave out the optional end-of-file mark
// (0x1A): writing it after every record makes the next record seek back
// over it, which costs a seek, a read and a write per row. Readers,
// GDAL's among them, need no such mark.
char** ShapefileLayerOptions() {
    static const char* options[] = {"DBF_EOF_CHAR=NO", nullptr};
    return const_cast<char**>(options);
}

std::map<std::string, std::weak_ptr<GDALDataset>>& GpkgCache() {
    static std::map<std::string, std::weak_ptr<GDALDataset>> cache;
    return cache;
}

}  // namespace

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
        ws->db_ = WrapDataset(static_cast<GDALDataset*>(
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
    ws->db_ = WrapDataset(static_cast<GDALDataset*>(GDALOpenEx(abs.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
    if (!ws->db_) RaiseGdal("The file " + path + " is not a layer GDAL can read");
    return ws;
}

WorkspacePtr Workspace::OpenData(const std::string& path) {
    if (PgConnection::IsConnectionString(path)) return OpenPostGIS(path);
    if (LCase(fs::path(path).extension().string()) == ".gpkg") return OpenGeoPackage(path);
    return OpenFolder(path);
}

bool Workspace::DatasetExists(const std::string& name) const {
    if (kind_ == WorkspaceKind::PostGIS) {
        std::string table = TableName(name);
        return !QueryPg(*db_, "SELECT 1 WHERE to_regclass(" + QuotePgLiteral(SqlName(table)) + ") IS NOT NULL").empty();
    }
    if (kind_ != WorkspaceKind::Folder) return db_->GetLayerByName(name.c_str()) != nullptr;
    return fs::exists(fs::path(path_) / (name + ".shp")) || fs::exists(fs::path(path_) / (name + ".dbf"));
}

std::vector<std::string> Workspace::DatasetNames() const {
    std::vector<std::string> names;
    if (kind_ == WorkspaceKind::PostGIS) {
        auto schema = PgConnection::Parse(path_).Schema();
        for (auto& table : QueryPg(*db_, "SELECT table_name FROM information_schema.tables WHERE table_schema = " +
                                             QuotePgLiteral(schema) + " ORDER BY 1")) {
            std::string prefix = TableName("");
            if (table.compare(0, prefix.size(), prefix) == 0) names.push_back(table.substr(prefix.size()));
        }
        return names;
    }
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
    if (kind_ == WorkspaceKind::PostGIS) {
        // A connection of its own: the table as it is now, even when another
        // connection replaced it since this workspace first looked.
        std::string table = TableName(name);
        auto connection = ConnectPg(PgConnection::Parse(path_), true);
        OGRLayer* layer = DatasetExists(name) ? connection->GetLayerByName(table.c_str()) : nullptr;
        if (!layer) Raise(kErrInvalidCall, "No table " + table + " in " + Describe(), "PXGIS");
        auto t = std::make_shared<Table>(self, table, connection, layer, "");
        if (needShape && !t->HasShape())
            Raise(kErrInvalidCall, "The table " + table + " in " + Describe() + " has no geometry column: it is not a layer",
                  "PXGIS");
        return t;
    }
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
    auto ds = WrapDataset(static_cast<GDALDataset*>(
        GDALOpenEx(file.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr)));
    if (!ds)
        ds = WrapDataset(static_cast<GDALDataset*>(
            GDALOpenEx(file.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr)));
    if (!ds || ds->GetLayerCount() < 1) RaiseGdal("The dataset " + file.string() + " could not be opened");
    LastGdalError();
    return std::make_shared<Table>(self, name, ds, ds->GetLayer(0), "");
}

FeatureClassPtr Workspace::OpenFeatureClass(const std::string& name) { return OpenAny(name, true); }
TablePtr Workspace::OpenTable(const std::string& name) { return OpenAny(name, false); }

FeatureClassPtr Workspace::CreateFeatureClass(const std::string& name, const Fields& fields, const std::string& shapeField) {
    if (kind_ == WorkspaceKind::File) Raise(kErrInvalidCall, path_ + " is read-only here: " + name + " cannot be changed", "PXGIS");
    long gi = fields.FindField(shapeField);
    if (gi < 0 || fields.GetField(gi)->type != kFieldGeometry)
        Raise(kErrInvalidCall, "The field list has no geometry field " + shapeField, "PXGIS");
    // A new table in a database takes the place of the old one when committed.
    if (kind_ == WorkspaceKind::PostGIS) return CreatePgFeatureClass(name, fields, shapeField);
    if (DatasetExists(name)) Raise(kErrInvalidCall, "A dataset named " + name + " already exists in " + path_, "PXGIS");
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
    auto ds = WrapDataset(drv->Create(file.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) RaiseGdal("The feature class " + file.string() + " could not be created");
    OGRLayer* layer = ds->CreateLayer(name.c_str(), srs, ToOgrGeomType(gd.type, false), ShapefileLayerOptions());
    if (!layer) RaiseGdal("The feature class " + file.string() + " could not be created");
    AddOgrFields(layer, fields);
    return std::make_shared<Table>(self, name, ds, layer, shapeField);
}

TablePtr Workspace::CreateTable(const std::string& name, const Fields& fields) {
    if (kind_ == WorkspaceKind::File) Raise(kErrInvalidCall, path_ + " is read-only here: " + name + " cannot be changed", "PXGIS");
    if (kind_ == WorkspaceKind::PostGIS)
        Raise(kErrInvalidCall, "Tables without shapes are written to files, not to " + Describe() + ": " + name, "PXGIS");
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
    auto ds = WrapDataset(drv->Create(file.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) RaiseGdal("The table " + file.string() + " could not be created");
    OGRLayer* layer = ds->CreateLayer(name.c_str(), nullptr, wkbNone, ShapefileLayerOptions());
    if (!layer) RaiseGdal("The table " + file.string() + " could not be created");
    AddOgrFields(layer, fields);
    return std::make_shared<Table>(self, name, ds, layer, "");
}

void Workspace::DeleteDataset(const std::string& name) {
    if (kind_ == WorkspaceKind::File) Raise(kErrInvalidCall, path_ + " is read-only here: " + name + " cannot be changed", "PXGIS");
    if (kind_ == WorkspaceKind::PostGIS) {
        std::string table = TableName(name);
        if (!DatasetExists(name)) Raise(kErrInvalidCall, "No table " + table + " in " + Describe(), "PXGIS");
        ExecutePg(*db_, "DROP TABLE " + SqlName(table), "The table " + table + " could not be deleted from " + Describe());
        return;
    }
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

}  // namespace host::gis
