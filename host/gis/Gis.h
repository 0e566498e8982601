// GIS object model of the host over GDAL/OGR: spatial references,
// geometries, fields, tables and feature classes with cursors, and the two
// kinds of workspace (a folder of shapefiles and dBASE tables, and a
// single-file GeoPackage database).
#pragma once

#include <memory>
#include <optional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Object.h"

class OGRSpatialReference;
class OGRGeometry;
class OGRFeature;
class OGRLayer;
class GDALDataset;

namespace host::gis {

// Host field-type codes.
enum FieldType : int {
    kFieldSmallInteger = 0,
    kFieldInteger = 1,
    kFieldSingle = 2,
    kFieldDouble = 3,
    kFieldString = 4,
    kFieldDate = 5,
    kFieldOID = 6,
    kFieldGeometry = 7,
};

// Host geometry-type codes.
enum GeometryType : int {
    kGeomNull = 0,
    kGeomPoint = 1,
    kGeomMultipoint = 2,
    kGeomPolyline = 3,
    kGeomPolygon = 4,
};

class SpatialReference : public Object {
public:
    SpatialReference();
    explicit SpatialReference(const OGRSpatialReference& sr);
    ~SpatialReference() override;
    std::string TypeName() const override { return "SpatialReference"; }

    static std::shared_ptr<SpatialReference> FromEPSG(int code);
    static std::shared_ptr<SpatialReference> FromWkt(const std::string& wkt);
    // Anything GDAL takes for a coordinate system: "EPSG:4267", WKT, PROJ.
    static std::shared_ptr<SpatialReference> FromUserInput(const std::string& text);

    bool IsGeographic() const;
    bool IsProjected() const;
    bool IsEmpty() const;
    std::string Name() const;
    int EpsgCode() const;  // -1 when unknown
    std::string ToWkt() const;
    // The geographic system underlying a projected one.
    std::shared_ptr<SpatialReference> GeographicCoordinateSystem() const;
    bool IsSame(const SpatialReference& other) const;
    // Projection parameters ("central_meridian", "standard_parallel_1", ...).
    void SetProjectionParameter(const std::string& name, double value);
    double ProjectionParameter(const std::string& name) const;

    const OGRSpatialReference& Ogr() const { return *sr_; }
    OGRSpatialReference& Ogr() { return *sr_; }

private:
    std::unique_ptr<OGRSpatialReference> sr_;
};
using SpatialReferencePtr = std::shared_ptr<SpatialReference>;

struct Envelope {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    bool empty = true;
    double Width() const { return xmax - xmin; }
    double Height() const { return ymax - ymin; }
    // Enlarges about the centre by the factors.
    void Expand(double fx, double fy);
    void Union(const Envelope& other);
};

class Geometry : public Object {
public:
    explicit Geometry(std::unique_ptr<OGRGeometry> g);
    ~Geometry() override;
    std::string TypeName() const override { return "Geometry"; }

    static std::shared_ptr<Geometry> FromWkt(const std::string& wkt, SpatialReferencePtr sr = nullptr);
    static std::shared_ptr<Geometry> MakeMultipoint(const std::vector<std::pair<double, double>>& pts,
                                                    SpatialReferencePtr sr = nullptr);
    static std::shared_ptr<Geometry> MakeEnvelopePolygon(const Envelope& env, SpatialReferencePtr sr = nullptr);

    std::shared_ptr<Geometry> Clone() const;
    GeometryType Type() const;
    bool IsEmpty() const;
    Envelope GetEnvelope() const;
    SpatialReferencePtr GetSpatialReference() const;
    void AssignSpatialReference(SpatialReferencePtr sr);
    // Projects in place into the spatial reference; raises on failure.
    void Project(const SpatialReferencePtr& target);
    std::string ToWkt() const;

    OGRGeometry* Ogr() const { return g_.get(); }
    std::unique_ptr<OGRGeometry> Release();

private:
    std::unique_ptr<OGRGeometry> g_;
};
using GeometryPtr = std::shared_ptr<Geometry>;

struct GeometryDef {
    GeometryType type = kGeomPolygon;
    double gridSize = 0;
    int avgNumPoints = 0;
    bool hasM = false;
    bool hasZ = false;
    SpatialReferencePtr spatialReference;
};

class Field : public Object {
public:
    std::string TypeName() const override { return "Field"; }
    std::string name;
    std::string alias;
    FieldType type = kFieldString;
    int length = 0;
    int precision = 0;
    int scale = 0;
    GeometryDef geometryDef;  // for type 7
};
using FieldPtr = std::shared_ptr<Field>;

FieldPtr NewField(const std::string& name, FieldType type, const std::string& alias = "", int length = 0,
                  int precision = 0, int scale = 0);

class Fields : public Object {
public:
    std::string TypeName() const override { return "Fields"; }
    long FieldCount() const { return static_cast<long>(fields_.size()); }
    const FieldPtr& GetField(long index) const;
    // Case-insensitive; -1 when missing.
    long FindField(const std::string& name) const;
    void AddField(FieldPtr f) { fields_.push_back(std::move(f)); }

private:
    std::vector<FieldPtr> fields_;
};
using FieldsPtr = std::shared_ptr<Fields>;

class Table;

// A row or feature; values are addressed by host field index (object id,
// shape, then the attribute fields).
class Row : public Object {
public:
    Row(std::shared_ptr<const Table> table, std::unique_ptr<OGRFeature> f);
    ~Row() override;
    std::string TypeName() const override { return "Row"; }

    const FieldsPtr& GetFields() const;
    Variant Value(long index) const;
    void SetValue(long index, const Variant& v);
    long OID() const;
    // Geometry of a feature; null for a table row or an empty shape.
    GeometryPtr Shape() const;
    // The shape without a copy; valid until the row moves on.
    const OGRGeometry* ShapeRef() const;
    void SetShape(const Geometry& g);  // copies
    void SetShapeCopyFrom(const Row& other);
    OGRFeature* Ogr() const { return f_.get(); }
    void Reset(std::unique_ptr<OGRFeature> f);

private:
    std::shared_ptr<const Table> table_;
    std::unique_ptr<OGRFeature> f_;
};
using RowPtr = std::shared_ptr<Row>;

struct QueryFilter {
    std::string whereClause;
    std::string subFields = "*";
    GeometryPtr geometry;  // spatial filter (relation: intersects) when set
};

class Cursor : public Object {
public:
    Cursor(std::shared_ptr<const Table> table, std::shared_ptr<GDALDataset> ds, OGRLayer* layer, bool recycling);
    // A cursor over the given rows of a layer, fetched by id in that order.
    Cursor(std::shared_ptr<const Table> table, std::shared_ptr<GDALDataset> ds, OGRLayer* layer,
           std::vector<long long> ids, bool recycling);
    ~Cursor() override;
    std::string TypeName() const override { return "Cursor"; }
    // Null at the end. A recycling cursor hands out the same row object.
    RowPtr NextRow();

private:
    std::shared_ptr<const Table> table_;
    std::shared_ptr<GDALDataset> ds_;
    OGRLayer* layer_;
    bool recycling_;
    RowPtr current_;
    bool byId_ = false;
    std::vector<long long> ids_;
    size_t next_ = 0;
};
using CursorPtr = std::shared_ptr<Cursor>;

class InsertCursor : public Object {
public:
    InsertCursor(std::shared_ptr<Table> table, bool buffered);
    ~InsertCursor() override;
    std::string TypeName() const override { return "InsertCursor"; }
    RowPtr CreateBuffer();
    long Insert(const Row& buffer);
    void Flush();

private:
    std::shared_ptr<Table> table_;
    bool buffered_;
    long pending_ = 0;
    bool inTransaction_ = false;
};
using InsertCursorPtr = std::shared_ptr<InsertCursor>;

class Workspace;

class Table : public Object {
public:
    Table(std::shared_ptr<Workspace> ws, std::string name, std::shared_ptr<GDALDataset> ds, OGRLayer* layer,
          std::string shapeFieldName);
    ~Table() override;
    std::string TypeName() const override { return "Table"; }

    const std::string& Name() const { return name_; }
    const FieldsPtr& GetFields() const { return fields_; }
    long FindField(const std::string& n) const { return fields_->FindField(n); }
    const std::string& OIDFieldName() const { return oidField_; }
    const std::string& ShapeFieldName() const { return shapeField_; }
    bool HasShape() const { return !shapeField_.empty(); }
    GeometryType ShapeType() const;
    // The layer's own coordinate system, or the one assigned to it.
    SpatialReferencePtr GetSpatialReference() const;
    // Gives a layer the coordinate system its file lacks (or states it
    // over a wrong one); shapes read from it then carry this one.
    void AssignSpatialReference(SpatialReferencePtr sr);
    bool HasAssignedSpatialReference() const { return assignedSr_ != nullptr; }
    Envelope Extent() const;
    std::shared_ptr<Workspace> GetWorkspace() const { return ws_; }
    // Path of the file that holds the data (the .shp/.dbf or the database).
    std::string DataPath() const;

    CursorPtr Search(const QueryFilter* filter, bool recycling) const;
    long RowCount(const QueryFilter* filter) const;
    InsertCursorPtr Insert(bool buffered);
    RowPtr GetRow(long oid) const;
    // Adds an attribute field to the stored table.
    void AddField(const FieldPtr& field);
    // Writes a row read from this table back with its changed values.
    void UpdateRow(const Row& row);
    // Attribute index on a field, or the spatial index on the shape field.
    void AddIndex(const std::string& indexName, const std::string& fieldName);
    bool HasSpatialIndex() const;

    // For the GIS layer's own use.
    OGRLayer* OgrLayer() const { return layer_; }
    GDALDataset* OgrDataset() const { return ds_.get(); }
    long HostIndexToOgr(long hostIndex) const;  // -1 for OID and shape
    void Close();

private:
    void BuildFields();
    std::shared_ptr<Workspace> ws_;
    std::string name_;
    std::shared_ptr<GDALDataset> ds_;
    OGRLayer* layer_;
    std::string shapeField_;
    std::string oidField_;
    FieldsPtr fields_;
    SpatialReferencePtr assignedSr_;
    GeometryType shapeType_ = kGeomNull;
    long attrOffset_ = 1;
    mutable std::shared_ptr<GDALDataset> countDs_;
    mutable OGRLayer* countLayer_ = nullptr;
    // Searches of the form FIELD = 'text' on a text field are answered from
    // an index of that field's values, built on first use and dropped when
    // rows are added; the rows are then read by id, not by a scan.
    CursorPtr SearchByKey(const QueryFilter& filter, bool recycling) const;
    mutable std::map<long, std::unordered_map<std::string, std::vector<long long>>> keyIndex_;
    mutable std::shared_ptr<GDALDataset> keyDs_;
    mutable OGRLayer* keyLayer_ = nullptr;
    mutable std::string keySubFields_ = "*";
    friend class InsertCursor;
};
using TablePtr = std::shared_ptr<Table>;
using FeatureClass = Table;
using FeatureClassPtr = TablePtr;

enum class WorkspaceKind { Folder, GeoPackage, File };

class Workspace : public Object {
public:
    std::string TypeName() const override { return "Workspace"; }
    // A folder of shapefiles and dBASE tables (created when missing).
    static std::shared_ptr<Workspace> OpenFolder(const std::string& folder);
    // A single-file database; CreateGeoPackage makes the file when missing.
    static std::shared_ptr<Workspace> CreateGeoPackage(const std::string& folder, const std::string& name);
    static std::shared_ptr<Workspace> OpenGeoPackage(const std::string& path);
    // Any other vector file GDAL reads (GeoJSON, FlatGeobuf, ...), read-only;
    // its datasets are the file's layers.
    static std::shared_ptr<Workspace> OpenFile(const std::string& path);

    WorkspaceKind Kind() const { return kind_; }
    const std::string& PathName() const { return path_; }

    bool DatasetExists(const std::string& name) const;
    std::vector<std::string> DatasetNames() const;
    FeatureClassPtr OpenFeatureClass(const std::string& name);
    TablePtr OpenTable(const std::string& name);
    // fields: the host field list in order; the object-id field (type 6) is
    // taken as the database's own; the geometry field gives shape type and
    // spatial reference.
    FeatureClassPtr CreateFeatureClass(const std::string& name, const Fields& fields, const std::string& shapeField);
    TablePtr CreateTable(const std::string& name, const Fields& fields);
    void DeleteDataset(const std::string& name);

private:
    WorkspaceKind kind_ = WorkspaceKind::Folder;
    std::string path_;
    std::shared_ptr<GDALDataset> db_;  // GeoPackage connection
    TablePtr OpenAny(const std::string& name, bool needShape);
};
using WorkspacePtr = std::shared_ptr<Workspace>;

// A layer named the way people name one: a file ("tracts.shp",
// "areas.geojson") or a layer of a multi-layer file ("db.gpkg|tracts").
struct LayerSource {
    std::string file;
    std::string layer;  // empty: the file's only layer
    static LayerSource Parse(const std::string& spec);
    std::string ToString() const { return layer.empty() ? file : file + "|" + layer; }
};
// Opens the feature class or table of a source: shapefiles through a folder
// workspace, GeoPackages through their database, anything else read-only.
// Raises with a message naming the source when it cannot be opened, or
// when a multi-layer file is named without its layer.
TablePtr OpenLayerSource(const LayerSource& source);

// Initialises GDAL once (drivers, error handler).
void EnsureGdal();
// Last GDAL error text, for messages.
std::string LastGdalError();

}  // namespace host::gis
