// One row of a table or feature of a feature class, as a cursor hands it
// out or an insert cursor fills it. Values are addressed by host field
// index (object id, shape, then the attributes) and come back as Variants:
// empty for a null value. Text written to a dBASE field is cut to the
// field's width, never inside a character.
#pragma once

#include <memory>
#include <string>

#include "host/Object.h"
#include "host/gis/Field.h"
#include "host/gis/Geometry.h"

class OGRFeature;

namespace host::gis {

class Table;

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

}  // namespace host::gis
