// Reading and writing the rows of a table. A Cursor walks the rows a
// QueryFilter selects, through a connection apart from the one rows are
// written through, so that reading does not disturb writing; NextRow gives
// null at the end. An InsertCursor
// adds rows; a buffered one on a database writes them in one transaction,
// committed by Flush or when the cursor goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/gis/Geometry.h"
#include "host/gis/Row.h"

class GDALDataset;
class OGRLayer;

namespace host::gis {

class Table;

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

}  // namespace host::gis
