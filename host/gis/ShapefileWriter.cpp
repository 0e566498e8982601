#include "host/gis/ShapefileWriter.h"

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "host/gis/GdalSupport.h"
#include "host/gis/ShapefileFiles.h"

namespace host::gis {

namespace {

constexpr size_t kFlushAt = size_t{1} << 20;
// The headers count a file's length in 16-bit words, as a signed number.
constexpr uint64_t kLargestFile = (uint64_t{1} << 32) - 2;

void PutBigEndian32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void PutLittle32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void PutLittleDouble(unsigned char* p, double d) {
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The first n bytes of a file; empty when it is shorter.
std::string Head(const std::string& path, size_t n) {
    std::string bytes(n, '\0');
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "";
    size_t got = std::fread(bytes.data(), 1, n, f);
    std::fclose(f);
    return got == n ? bytes : "";
}

// Encodings of one byte per character, whose texts are cut to their field
// as GDAL cuts them; in the others GDAL widens the field instead.
bool OneBytePerCharacter(const std::string& encoding) {
    for (const char* prefix : {"ISO-8859", "ISO8859", "CP125", "CP437", "CP85", "CP86", "LATIN", "KOI8"})
        if (STARTS_WITH_CI(encoding.c_str(), prefix)) return true;
    return false;
}

bool IsAscii(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::unique_ptr<ShapefileWriter> ShapefileWriter::Open(Table& table) {
    if (!IsShapefile(table) || !table.OgrLayer()) return nullptr;
    OGRLayer* layer = table.OgrLayer();
    std::string base = ShapefileBase(table.DataPath());
    if (base.empty() || layer->GetGeomType() != wkbPolygon || layer->GetFeatureCount(TRUE) != 0) return nullptr;
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    std::vector<std::pair<std::string, bool>> fields;  // name, whether a number
    for (int i = 0; i < defn->GetFieldCount(); ++i) {
        OGRFieldType t = defn->GetFieldDefn(i)->GetType();
        if (t != OFTString && t != OFTReal) return nullptr;
        fields.emplace_back(defn->GetFieldDefn(i)->GetNameRef(), t == OFTReal);
    }
    std::unique_ptr<ShapefileWriter> w(new ShapefileWriter());
    w->base_ = base;
    const char* encoding = layer->GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE");
    w->encoding_ = encoding ? encoding : "";
    bool utf8 = w->encoding_.empty() || EQUAL(w->encoding_.c_str(), "UTF-8");
    if (!utf8 && !OneBytePerCharacter(w->encoding_)) return nullptr;
    w->bytePerCharacter_ = !utf8;
    // GDAL writes the headers of the empty layer when it lets go of it.
    table.Close();

    w->shp_.header = Head(base + ".shp", 100);
    w->shx_.header = Head(base + ".shx", 100);
    StreamedFile dbf(base + ".dbf");
    DbfLayout layout = ReadDbfHeader(dbf);
    std::error_code ec;
    if (w->shp_.header.empty() || w->shx_.header.empty() || std::filesystem::file_size(base + ".shp", ec) != 100 ||
        std::filesystem::file_size(base + ".shx", ec) != 100 || layout.header == 0 || layout.rows != 0 ||
        std::filesystem::file_size(base + ".dbf", ec) != layout.header ||
        layout.columns.size() != fields.size())
        Raise(kErrInvalidCall, "The new feature class " + base + ".shp is not an empty shapefile", "PXGIS");
    w->dbf_.header = Head(base + ".dbf", layout.header);
    for (size_t i = 0; i < layout.columns.size(); ++i) {
        const auto& c = layout.columns[i];
        w->columns_.push_back({fields[i].first, c.offset, c.length, c.decimals, fields[i].second});
    }
    w->record_.resize(layout.record);
    w->ClearRecord();
    for (auto* out : {&w->shp_, &w->shx_, &w->dbf_}) {
        out->path = base + (out == &w->shp_ ? ".shp" : out == &w->shx_ ? ".shx" : ".dbf");
        out->file = std::fopen(out->path.c_str(), "r+b");
        if (!out->file) Raise(kErrInvalidCall, "The file " + out->path + " could not be opened for writing", "PXGIS");
        out->length = out->header.size();
        // Past the headers (and over any end-of-file mark of the table).
        if (std::fseek(out->file, static_cast<long>(out->length), SEEK_SET) != 0)
            Raise(kErrInvalidCall, "The file " + out->path + " could not be written", "PXGIS");
        out->buffer.reserve(kFlushAt + 4096);
    }
    return w;
}

ShapefileWriter::~ShapefileWriter() {
    if (!finished_) Abandon();
}

long ShapefileWriter::FindField(const std::string& name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (EQUAL(columns_[i].name.c_str(), name.c_str())) return static_cast<long>(i);
    return -1;
}

void ShapefileWriter::SetText(long field, const std::string& utf8) {
    const Column& c = columns_.at(static_cast<size_t>(field));
    std::string text = FitDbaseText(utf8, static_cast<int>(c.width), bytePerCharacter_);
    if (!encoding_.empty() && !IsAscii(text)) {
        // As GDAL's writer recodes it, quietly.
        CPLPushErrorHandler(CPLQuietErrorHandler);
        char* recoded = CPLRecode(text.c_str(), CPL_ENC_UTF8, encoding_.c_str());
        CPLPopErrorHandler();
        text = recoded;
        CPLFree(recoded);
    }
    size_t n = std::min(std::strlen(text.c_str()), c.width);
    char* at = record_.data() + c.offset;
    std::memcpy(at, text.data(), n);
    std::memset(at + n, ' ', c.width - n);
}

// As dBASE numbers are written: "%W.Df", right-aligned in the field, and
// cut to the field's width should it not fit.
void ShapefileWriter::SetNumber(long field, double value) {
    const Column& c = columns_.at(static_cast<size_t>(field));
    char text[400];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, c.decimals);
    size_t n = ec == std::errc() ? static_cast<size_t>(end - text) : 0;
    char* at = record_.data() + c.offset;
    if (n >= c.width) {
        std::memcpy(at, text, c.width);
        return;
    }
    std::memset(at, ' ', c.width - n);
    std::memcpy(at + c.width - n, text, n);
}

void ShapefileWriter::SetValue(long field, const Variant& value) {
    if (value.IsNumber()) SetNumber(field, value.ToDouble());
    else SetText(field, value.ToString());
}

void ShapefileWriter::Append(std::string_view shape) {
    unsigned char head[8];
    std::string_view content = shape;
    static const char kNullShape[4] = {0, 0, 0, 0};
    if (content.size() < 4) content = std::string_view(kNullShape, 4);
    PutBigEndian32(head, static_cast<uint32_t>(rows_ + 1));
    PutBigEndian32(head + 4, static_cast<uint32_t>(content.size() / 2));
    if (shp_.length + 8 + content.size() > kLargestFile)
        Raise(kErrInvalidCall, "The output " + shp_.path + " would pass the 4 GB a shapefile can hold", "PXGIS");
    unsigned char entry[8];
    PutBigEndian32(entry, static_cast<uint32_t>(shp_.length / 2));
    PutBigEndian32(entry + 4, static_cast<uint32_t>(content.size() / 2));
    Put(shp_, head, 8);
    Put(shp_, content.data(), content.size());
    Put(shx_, entry, 8);
    Put(dbf_, record_.data(), record_.size());
    // The layer's bounds grow point by point, and start again from the
    // first point written while they are all zero, as GDAL's do.
    const auto* p = reinterpret_cast<const unsigned char*>(content.data());
    if (content.size() >= 44 && Little32(p) == 5) {
        size_t parts = Little32(p + 36), points = Little32(p + 40);
        const unsigned char* xy = p + 44 + 4 * parts;
        if (points > 0 && 44 + 4 * parts + 16 * points <= content.size()) {
            if (bounds_[0] == 0 && bounds_[1] == 0 && bounds_[2] == 0 && bounds_[3] == 0) {
                bounds_[0] = bounds_[2] = LittleDouble(xy);
                bounds_[1] = bounds_[3] = LittleDouble(xy + 8);
            }
            for (size_t i = 0; i < points; ++i) {
                double x = LittleDouble(xy + 16 * i), y = LittleDouble(xy + 16 * i + 8);
                if (x < bounds_[0]) bounds_[0] = x;
                if (y < bounds_[1]) bounds_[1] = y;
                if (x > bounds_[2]) bounds_[2] = x;
                if (y > bounds_[3]) bounds_[3] = y;
            }
        }
    }
    ++rows_;
    ClearRecord();
}

// A row of nulls: blank texts, numbers filled with asterisks.
void ShapefileWriter::ClearRecord() {
    record_.assign(record_.size(), ' ');
    for (auto& c : columns_)
        if (c.number) std::memset(record_.data() + c.offset, '*', c.width);
}

void ShapefileWriter::Put(Output& out, const void* data, size_t n) {
    out.buffer.append(static_cast<const char*>(data), n);
    out.length += n;
    if (out.buffer.size() >= kFlushAt) Flush(out);
}

void ShapefileWriter::Flush(Output& out) {
    if (!out.buffer.empty() && std::fwrite(out.buffer.data(), 1, out.buffer.size(), out.file) != out.buffer.size())
        Raise(kErrInvalidCall, "The file " + out.path + " could not be written (is the disk full?)", "PXGIS");
    out.buffer.clear();
}

void ShapefileWriter::WriteAt(Output& out, uint64_t position, const void* data, size_t n) {
    if (std::fseek(out.file, static_cast<long>(position), SEEK_SET) != 0 || std::fwrite(data, 1, n, out.file) != n)
        Raise(kErrInvalidCall, "The header of " + out.path + " could not be written", "PXGIS");
}

void ShapefileWriter::Close(Output& out) {
    if (!out.file) return;
    bool ok = std::fclose(out.file) == 0;
    out.file = nullptr;
    if (!ok) Raise(kErrInvalidCall, "The file " + out.path + " could not be written (is the disk full?)", "PXGIS");
}

void ShapefileWriter::Finish() {
    try {
        for (auto* out : {&shp_, &shx_, &dbf_}) Flush(*out);
        unsigned char box[32];
        for (int i = 0; i < 4; ++i) PutLittleDouble(box + 8 * i, bounds_[i]);
        for (auto* out : {&shp_, &shx_}) {
            unsigned char length[4];
            PutBigEndian32(length, static_cast<uint32_t>(out->length / 2));
            WriteAt(*out, 24, length, 4);
            WriteAt(*out, 36, box, 32);
        }
        unsigned char count[4];
        PutLittle32(count, static_cast<uint32_t>(rows_));
        WriteAt(dbf_, 4, count, 4);
        for (auto* out : {&shp_, &shx_, &dbf_}) Close(*out);
        finished_ = true;
    } catch (...) {
        Abandon();
        finished_ = true;
        throw;
    }
}

// Back to the empty layer GDAL created: its files cut to their headers,
// and the headers as GDAL wrote them.
void ShapefileWriter::Abandon() {
    for (auto* out : {&shp_, &shx_, &dbf_}) {
        if (out->file) std::fclose(out->file);
        out->file = nullptr;
        out->buffer.clear();
    }
    for (auto* out : {&shp_, &shx_, &dbf_}) {
        if (out->path.empty() || out->header.empty()) continue;
        std::error_code ec;
        std::filesystem::resize_file(out->path, out->header.size(), ec);
        if (std::FILE* f = std::fopen(out->path.c_str(), "r+b")) {
            std::fwrite(out->header.data(), 1, out->header.size(), f);
            std::fclose(f);
        }
    }
}

// ---------------- PolygonRecords ----------------

PolygonRecords::PolygonRecords() = default;

PolygonRecords::~PolygonRecords() {
    layer_ = nullptr;
    scratch_.reset();
    if (!path_.empty()) {
        std::string base = ShapefileBase(path_);
        for (const char* ext : {".shp", ".shx", ".dbf"}) VSIUnlink((base + ext).c_str());
    }
}

bool PolygonRecords::FromStoredRing(std::string_view stored, std::string& record) {
    const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
    if (stored.size() < 48 || Little32(p) != 5 || Little32(p + 36) != 1 || Little32(p + 44) != 0) return false;
    size_t n = Little32(p + 40);
    if (n < 4 || stored.size() < 48 + 16 * n) return false;
    const unsigned char* xy = p + 48;
    auto x = [&](size_t i) { return LittleDouble(xy + 16 * i); };
    auto y = [&](size_t i) { return LittleDouble(xy + 16 * i + 8); };
    if (!(x(0) == x(n - 1) && y(0) == y(n - 1))) return false;
    // The ring's orientation as GDAL's writer reckons it; a ring too flat
    // to tell for certain is left to GDAL.
    double sum = x(0) * (y(1) - y(n - 1)), size = std::fabs(sum);
    size_t i = 1;
    for (; i < n - 1; ++i) {
        double term = x(i) * (y(i + 1) - y(i - 1));
        sum += term;
        size += std::fabs(term);
    }
    double last = x(i) * (y(0) - y(i - 1));
    sum += last;
    size += std::fabs(last);
    if (!(std::fabs(sum) > 1e-9 * size)) return false;
    bool reverse = sum > 0;  // counter-clockwise: an outer ring is turned
    record.assign(48 + 16 * n, '\0');
    auto* out = reinterpret_cast<unsigned char*>(record.data());
    std::memcpy(out, p, 48);
    double box[4] = {x(0), y(0), x(0), y(0)};
    for (size_t k = 0; k < n; ++k) {
        double px = x(k), py = y(k);
        if (px < box[0]) box[0] = px;
        if (py < box[1]) box[1] = py;
        if (px > box[2]) box[2] = px;
        if (py > box[3]) box[3] = py;
    }
    for (int k = 0; k < 4; ++k) PutLittleDouble(out + 4 + 8 * k, box[k]);
    if (!reverse) {
        std::memcpy(out + 48, xy, 16 * n);
    } else {
        for (size_t k = 0; k < n; ++k) std::memcpy(out + 48 + 16 * k, xy + 16 * (n - 1 - k), 16);
    }
    return true;
}

bool PolygonRecords::Transformed(std::string_view stored, OGRCoordinateTransformation& ct, std::string& moved) {
    const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
    if (stored.size() < 44 || Little32(p) != 5) return false;
    size_t parts = Little32(p + 36), points = Little32(p + 40);
    size_t start = 44 + 4 * parts;
    if (parts > stored.size() || points > stored.size() || stored.size() < start + 16 * points) return false;
    std::vector<double> x(points), y(points), z(points, 0.0);
    for (size_t i = 0; i < points; ++i) {
        x[i] = LittleDouble(p + start + 16 * i);
        y[i] = LittleDouble(p + start + 16 * i + 8);
    }
    std::vector<int> ok(points, FALSE);
    if (points > 0 && !ct.Transform(points, x.data(), y.data(), z.data(), ok.data())) return false;
    moved.assign(stored.data(), start + 16 * points);
    auto* out = reinterpret_cast<unsigned char*>(moved.data());
    double box[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < points; ++i) {
        if (!ok[i] || !std::isfinite(x[i]) || !std::isfinite(y[i])) return false;
        PutLittleDouble(out + start + 16 * i, x[i]);
        PutLittleDouble(out + start + 16 * i + 8, y[i]);
        if (i == 0 || x[i] < box[0]) box[0] = x[i];
        if (i == 0 || y[i] < box[1]) box[1] = y[i];
        if (i == 0 || x[i] > box[2]) box[2] = x[i];
        if (i == 0 || y[i] > box[3]) box[3] = y[i];
    }
    for (int k = 0; k < 4; ++k) PutLittleDouble(out + 4 + 8 * k, box[k]);
    return true;
}

std::string PolygonRecords::FromShape(const OGRGeometry& shape) {
    vsi_l_offset length = 0;
    if (scratch_ && VSIGetMemFileBuffer(path_.c_str(), &length, FALSE) && length > (vsi_l_offset{64} << 20)) {
        layer_ = nullptr;
        scratch_.reset();
    }
    if (!scratch_) {
        if (path_.empty()) path_ = "/vsimem/pxcp_polygon_records_" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".shp";
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
        scratch_ = WrapDataset(driver ? driver->Create(path_.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr);
        const char* options[] = {"DBF_EOF_CHAR=NO", nullptr};
        layer_ = scratch_ ? scratch_->CreateLayer("records", nullptr, wkbPolygon, const_cast<char**>(options)) : nullptr;
        OGRFieldDefn id("ID", OFTInteger);
        if (!layer_ || layer_->CreateField(&id) != OGRERR_NONE) RaiseGdal("Shapes cannot be converted to shapefile records");
    }
    VSIGetMemFileBuffer(path_.c_str(), &length, FALSE);
    OGRFeature feature(layer_->GetLayerDefn());
    feature.SetGeometry(&shape);
    if (layer_->CreateFeature(&feature) != OGRERR_NONE) RaiseGdal("A shape could not be written as a polygon");
    vsi_l_offset after = 0;
    const GByte* bytes = VSIGetMemFileBuffer(path_.c_str(), &after, FALSE);
    if (!bytes || after < length + 12) Raise(kErrInvalidCall, "A shape could not be written as a polygon", "PXGIS");
    return std::string(reinterpret_cast<const char*>(bytes) + length + 8, static_cast<size_t>(after - length - 8));
}

}  // namespace host::gis
