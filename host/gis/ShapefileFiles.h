// A shapefile's own files read straight, for the passes that read every
// record once and find features too dear: a file streamed front to back,
// the byte orders of the headers, the layout of the dBASE table, and the
// records of a polygon shapefile as they are stored. For the GIS layer's
// own use; everything else reads tables through cursors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/gis/Table.h"

namespace host::gis {

inline uint32_t BigEndian32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t Little32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline double LittleDouble(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

// Whether GDAL reads the table as a shapefile (or its dBASE table alone).
bool IsShapefile(const Table& table);
// The path of a shapefile without its ".shp"; empty for any other path.
std::string ShapefileBase(const std::string& shpPath);

// A file read front to back through a buffer of fixed size, so that a file
// of any size costs the same little memory.
class StreamedFile {
public:
    explicit StreamedFile(const std::string& path);
    ~StreamedFile();
    StreamedFile(const StreamedFile&) = delete;
    StreamedFile& operator=(const StreamedFile&) = delete;
    bool IsOpen() const { return f_ != nullptr; }
    // Makes n bytes available at Data(); false when the file ends first.
    bool Need(size_t n);
    const unsigned char* Data() const { return buffer_.data() + at_; }
    void Skip(size_t n) { at_ += n; }
    // Where Data() is within the file.
    uint64_t Position() const { return filePosition_ - (end_ - at_); }
    // Moves to a position of the file; false when it lies beyond the end.
    bool SeekTo(uint64_t position);

private:
    std::FILE* f_;
    std::vector<unsigned char> buffer_;
    size_t at_ = 0, end_ = 0;
    uint64_t size_ = 0, filePosition_ = 0;  // the file's size; where the buffer's end lies in it
};

// The header of a dBASE table: its row count, header and record lengths and
// each column's type, width, decimals and place within a record (after the
// deletion mark).
struct DbfLayout {
    uint32_t rows = 0;
    size_t header = 0, record = 0;
    struct Column {
        size_t offset, length;
        char type;
        int decimals;
    };
    std::vector<Column> columns;
};

// Raises the error of a shapefile whose record (counted from 0) cannot be
// read, with the reason when there is one.
[[noreturn]] void RaiseDamagedShapefile(const std::string& shpPath, long record, const std::string& why = "");

// Reads the header of a dBASE table, leaving the file at its first record.
// An unreadable or missing table has no rows and no columns.
DbfLayout ReadDbfHeader(StreamedFile& dbf);

// The main file (.shp) of a shapefile table whose shapes are of one type,
// its file code checked and its 100-byte header read past; `file` is null
// when the table is no shapefile of that type or its .shp cannot be read.
struct MainShapeFile {
    std::string base;  // the path without ".shp"
    uint32_t shapeType = 0;  // as the header has it
    std::unique_ptr<StreamedFile> file;
};
MainShapeFile OpenMainShapeFile(const Table& table, GeometryType type);

// A field of a table (a host field index) as its .dbf stores it: its place
// in a record and what GDAL reads it as; nullopt when the .dbf and the
// layer disagree on the field.
struct DbfField {
    enum Value { kText, kWholeNumber, kRealNumber, kOther };
    DbfLayout::Column column;
    Value value;
};
std::optional<DbfField> FindDbfField(const Table& table, const DbfLayout& layout, long field);

// The records of a 2-D polygon shapefile read straight from its files in
// the order of its index (the .shx), each with its shape record as stored
// and the bytes of its key column (a text or a whole number): what a cursor over the
// layer reads, without making features. What it hands out is valid until
// the next call of Next.
class ShapefileRecords {
public:
    // Null unless the table is a shapefile of plain polygons (no Z or M)
    // whose .shx and .dbf count the same records and the field (a host
    // field index) is a text or whole-number column of its table: the
    // caller then reads the layer through a cursor.
    static std::unique_ptr<ShapefileRecords> Open(const Table& table, long keyField);
    // Moves to the next record whose row is not deleted, as a cursor would.
    // False at the end; raises an error naming the file and the record when
    // the files are damaged.
    bool Next();
    long Oid() const { return oid_; }
    // The content of the shape record: its shape type first, then the
    // shape, as the file holds it.
    std::string_view Shape() const { return shape_; }
    // The column's bytes for this row, untrimmed.
    std::string_view Text() const { return text_; }

private:
    ShapefileRecords() = default;
    std::unique_ptr<StreamedFile> shp_, shx_, dbf_;
    std::string path_;
    size_t records_ = 0, dbfRecord_ = 0;
    DbfLayout::Column column_{};
    std::string_view shape_, text_;
    long oid_ = -1;
};

}  // namespace host::gis
