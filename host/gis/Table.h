// A table of a workspace, or a feature class: a table with a shape field.
// A Table names its fields in host order, answers searches and counts
// through cursors and connections of their own (so that reading does not
// disturb the rows being written), and adds rows through insert cursors.
// A layer whose file lacks a coordinate system may be given one; its
// shapes then carry it. Failures raise with the dataset's name.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Object.h"
#include "host/gis/Cursor.h"
#include "host/gis/Field.h"
#include "host/gis/Geometry.h"
#include "host/gis/Row.h"
#include "host/gis/SpatialReference.h"

class GDALDataset;
class OGRLayer;

namespace host::gis {

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
    // A connection of its own to the table's data (the file again, or the
    // database) with the table's layer in it, so that reading there leaves
    // other cursors where they are; a null layer when it cannot be opened.
    struct Reader {
        std::shared_ptr<GDALDataset> dataset;
        OGRLayer* layer = nullptr;
    };
    Reader OpenReader() const;
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
    mutable Reader counter_;  // the connection counts share
    // Searches of the form FIELD = 'text' on a text field are answered from
    // an index of that field's values, built on first use and dropped when
    // rows are added; the rows are then read by id, not by a scan.
    CursorPtr SearchByKey(const QueryFilter& filter, bool recycling) const;
    mutable std::map<long, std::unordered_map<std::string, std::vector<long long>>> keyIndex_;
    mutable Reader keyReader_;
    mutable std::string keySubFields_ = "*";
    friend class InsertCursor;
};
using TablePtr = std::shared_ptr<Table>;
using FeatureClass = Table;
using FeatureClassPtr = TablePtr;

}  // namespace host::gis
