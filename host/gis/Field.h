// The description of a table's columns. A Fields list is what a table
// offers and what a new one is made from: by host index, the object id
// first, then the shape (for a feature class), then the attributes. Names
// are found without regard to case.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/gis/Geometry.h"
#include "host/gis/SpatialReference.h"

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
    // Raises when the index is out of range.
    const FieldPtr& GetField(long index) const;
    // Case-insensitive; -1 when missing.
    long FindField(const std::string& name) const;
    void AddField(FieldPtr f) { fields_.push_back(std::move(f)); }

private:
    std::vector<FieldPtr> fields_;
};
using FieldsPtr = std::shared_ptr<Fields>;

}  // namespace host::gis
