// Writing the rows of a new polygon shapefile straight to its files, for
// outputs of many rows: each row costs a copy of its shape record and a
// dBASE record formatted in place, where GDAL's writer makes a feature of
// it, converts its shape and formats every number through snprintf. The
// files come out as GDAL's own writer would write the same rows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/gis/Table.h"

class GDALDataset;
class OGRCoordinateTransformation;
class OGRGeometry;
class OGRLayer;

namespace host::gis {

// Appends rows to a polygon shapefile that GDAL has just created, empty:
// GDAL has written its fields, coordinate system and encoding; the writer
// takes the layer over, appends each row's shape record, index entry and
// dBASE record, and writes the headers (file lengths, bounds, record
// count) when finished. Until then the headers still describe an empty
// layer, and a writer dropped unfinished cuts the files back to that
// empty layer: no reader takes a part of the rows for all of them.
class ShapefileWriter {
public:
    // Takes over an empty 2-D polygon shapefile whose fields are texts and
    // real numbers, closing the table's own handle on it; null (the table
    // untouched) for any other table. Raises, naming the file, when its
    // files cannot be opened for writing.
    static std::unique_ptr<ShapefileWriter> Open(Table& table);
    ~ShapefileWriter();
    ShapefileWriter(const ShapefileWriter&) = delete;
    ShapefileWriter& operator=(const ShapefileWriter&) = delete;

    // The position of a field in the table; -1 when there is none.
    long FindField(const std::string& name) const;
    // Values of the row being made; a field not set is null. A text is cut
    // to its field's width and recoded to the table's encoding, as a row of
    // the layer would write it.
    void SetText(long field, const std::string& utf8);
    void SetNumber(long field, double value);
    // A number or, for anything else, its text: as a row's SetValue.
    void SetValue(long field, const Variant& value);
    // Appends the row with the shape record's content (see
    // PolygonRecords): its type first; empty for a row without shape.
    // Raises when the files cannot be written.
    void Append(std::string_view shape);
    long Rows() const { return rows_; }
    // Writes the headers and closes the files; raises when they cannot be
    // written (the files are then cut back to the empty layer).
    void Finish();

private:
    struct Column {
        std::string name;
        size_t offset, width;
        int decimals;
        bool number;
    };
    ShapefileWriter() = default;
    // A file written through a buffer of its own.
    struct Output {
        std::FILE* file = nullptr;
        std::string path, buffer;
        std::string header;  // as GDAL wrote it for the empty layer
        uint64_t length = 0;  // what the file holds with the buffer
    };
    void Put(Output& out, const void* data, size_t n);
    void Flush(Output& out);
    void WriteAt(Output& out, uint64_t position, const void* data, size_t n);
    void Close(Output& out);
    void ClearRecord();
    void Abandon();
    std::string base_, encoding_;
    bool bytePerCharacter_ = true;
    Output shp_, shx_, dbf_;
    std::vector<Column> columns_;
    std::string record_;  // the dBASE record of the row being made
    long rows_ = 0;
    double bounds_[4] = {0, 0, 0, 0};  // xmin, ymin, xmax, ymax
    bool finished_ = false;
};

// Shape records of polygons as GDAL's shapefile writer makes them from
// what OGR reads out of another polygon shapefile: a record can be carried
// from one file to the other without making a geometry of it.
class PolygonRecords {
public:
    PolygonRecords();
    ~PolygonRecords();
    // The record GDAL writes for the polygon OGR reads from a stored record
    // of one closed ring (its ring turned clockwise, its bounds those of
    // its points). False for every other record (several rings, an open
    // ring, no points, another type): only OGR knows the shape it reads
    // from those, and the caller passes that shape to FromShape.
    static bool FromStoredRing(std::string_view stored, std::string& record);
    // A stored polygon record with every point moved by the transformation,
    // as OGR moves the points of the polygon it reads from the record; its
    // bounds are those of the moved points. False (moved undefined) for a
    // record that is no whole polygon record or a point that cannot be
    // moved.
    static bool Transformed(std::string_view stored, OGRCoordinateTransformation& ct, std::string& moved);
    // The record GDAL's own writer makes of a shape (a null record for an
    // empty one). Raises when GDAL does not take the shape for a polygon.
    std::string FromShape(const OGRGeometry& shape);

private:
    std::shared_ptr<GDALDataset> scratch_;
    std::string path_;
    OGRLayer* layer_ = nullptr;
};

}  // namespace host::gis
