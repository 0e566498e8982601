#include "host/gis/ShapefileFiles.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <filesystem>

namespace host::gis {

bool IsShapefile(const Table& table) {
    GDALDataset* ds = table.OgrDataset();
    return ds && ds->GetDriver() && std::string(ds->GetDriver()->GetDescription()) == "ESRI Shapefile";
}

std::string ShapefileBase(const std::string& shp) {
    if (shp.size() < 4 || (shp.substr(shp.size() - 4) != ".shp" && shp.substr(shp.size() - 4) != ".SHP")) return "";
    return shp.substr(0, shp.size() - 4);
}

StreamedFile::StreamedFile(const std::string& path) : f_(std::fopen(path.c_str(), "rb")), buffer_(1 << 20) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    size_ = ec ? 0 : static_cast<uint64_t>(size);
}

StreamedFile::~StreamedFile() {
    if (f_) std::fclose(f_);
}

bool StreamedFile::Need(size_t n) {
    if (end_ - at_ >= n) return true;
    // A length beyond the end of the file (a damaged record) is not waited
    // for, nor made room for.
    if (!f_ || n - (end_ - at_) > size_ - std::min(filePosition_, size_)) return false;
    std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
    end_ -= at_;
    at_ = 0;
    if (n > buffer_.size()) buffer_.resize(n);
    while (end_ < n) {
        size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, f_);
        if (got == 0) return false;
        end_ += got;
        filePosition_ += got;
    }
    return true;
}

bool StreamedFile::SeekTo(uint64_t position) {
    if (!f_ || position > size_) return false;
    uint64_t bufferStart = filePosition_ - end_;
    if (position >= bufferStart && position <= filePosition_) {
        at_ = static_cast<size_t>(position - bufferStart);
        return true;
    }
    if (std::fseek(f_, static_cast<long>(position), SEEK_SET) != 0) return false;
    at_ = end_ = 0;
    filePosition_ = position;
    return true;
}

DbfLayout ReadDbfHeader(StreamedFile& dbf) {
    DbfLayout layout;
    if (!dbf.Need(32)) return layout;
    const unsigned char* d = dbf.Data();
    size_t header = d[8] | d[9] << 8, record = d[10] | d[11] << 8;
    if (header < 33 || record == 0 || !dbf.Need(header)) return layout;
    d = dbf.Data();
    size_t offset = 1;
    for (size_t at = 32; at + 32 <= header && d[at] != 0x0d; at += 32) {
        layout.columns.push_back({offset, d[at + 16], static_cast<char>(d[at + 11]), d[at + 17]});
        offset += d[at + 16];
    }
    if (offset > record) return DbfLayout();
    layout.rows = Little32(d + 4);
    layout.header = header;
    layout.record = record;
    dbf.Skip(header);
    return layout;
}

MainShapeFile OpenMainShapeFile(const Table& table, GeometryType type) {
    MainShapeFile main;
    if (!IsShapefile(table) || table.ShapeType() != type) return main;
    main.base = ShapefileBase(table.DataPath());
    if (main.base.empty()) return main;
    auto shp = std::make_unique<StreamedFile>(main.base + ".shp");
    if (!shp->Need(100) || BigEndian32(shp->Data()) != 9994) return main;
    main.shapeType = Little32(shp->Data() + 32);
    shp->Skip(100);
    main.file = std::move(shp);
    return main;
}

std::optional<DbfField> FindDbfField(const Table& table, const DbfLayout& layout, long field) {
    long i = table.HostIndexToOgr(field);
    OGRFeatureDefn* defn = table.OgrLayer()->GetLayerDefn();
    if (i < 0 || static_cast<size_t>(i) >= layout.columns.size() || i >= defn->GetFieldCount()) return std::nullopt;
    DbfField found{layout.columns[static_cast<size_t>(i)], DbfField::kOther};
    switch (defn->GetFieldDefn(static_cast<int>(i))->GetType()) {
        case OFTString: found.value = DbfField::kText; break;
        case OFTInteger:
        case OFTInteger64: found.value = DbfField::kWholeNumber; break;
        case OFTReal: found.value = DbfField::kRealNumber; break;
        default: break;
    }
    return found;
}

std::unique_ptr<ShapefileRecords> ShapefileRecords::Open(const Table& table, long keyField) {
    MainShapeFile main = OpenMainShapeFile(table, kGeomPolygon);
    if (!main.file || main.shapeType != 5) return nullptr;
    std::unique_ptr<ShapefileRecords> reader(new ShapefileRecords());
    reader->path_ = main.base + ".shp";
    reader->shp_ = std::move(main.file);
    reader->shx_ = std::make_unique<StreamedFile>(main.base + ".shx");
    reader->dbf_ = std::make_unique<StreamedFile>(main.base + ".dbf");
    StreamedFile& shx = *reader->shx_;
    if (!shx.Need(100) || BigEndian32(shx.Data()) != 9994) return nullptr;
    uint64_t shxLength = uint64_t{BigEndian32(shx.Data() + 24)} * 2;
    if (shxLength < 100) return nullptr;
    reader->records_ = static_cast<size_t>((shxLength - 100) / 8);
    shx.Skip(100);
    DbfLayout layout = ReadDbfHeader(*reader->dbf_);
    if (layout.rows != reader->records_) return nullptr;
    auto key = FindDbfField(table, layout, keyField);
    if (!key) return nullptr;
    char column = key->column.type;
    bool text = key->value == DbfField::kText && column == 'C';
    bool whole = key->value == DbfField::kWholeNumber && (column == 'N' || column == 'F');
    if (!text && !whole) return nullptr;
    reader->column_ = key->column;
    reader->dbfRecord_ = layout.record;
    return reader;
}

void RaiseDamagedShapefile(const std::string& shpPath, long record, const std::string& why) {
    std::string where = "The shapefile " + shpPath + " is damaged at record " + std::to_string(record + 1);
    Raise(kErrInvalidCall, why.empty() ? where : where + ": " + why, "PXGIS");
}

bool ShapefileRecords::Next() {
    StreamedFile &shp = *shp_, &shx = *shx_, &dbf = *dbf_;
    while (static_cast<size_t>(oid_ + 1) < records_) {
        ++oid_;
        if (!shx.Need(8)) RaiseDamagedShapefile(path_, oid_, "its index (.shx) ends early");
        uint64_t offset = uint64_t{BigEndian32(shx.Data())} * 2;
        size_t length = static_cast<size_t>(BigEndian32(shx.Data() + 4)) * 2;
        shx.Skip(8);
        if (!dbf.Need(dbfRecord_)) RaiseDamagedShapefile(path_, oid_, "its table (.dbf) ends early");
        bool deleted = dbf.Data()[0] == '*';
        text_ = std::string_view(reinterpret_cast<const char*>(dbf.Data()) + column_.offset, column_.length);
        dbf.Skip(dbfRecord_);
        if (deleted) continue;
        // Records usually follow one another; the index says where each is.
        if (offset != shp.Position() && !shp.SeekTo(offset))
            RaiseDamagedShapefile(path_, oid_, "the index points past the end of the file");
        if (!shp.Need(8 + length)) RaiseDamagedShapefile(path_, oid_, "the record runs past the end of the file");
        if (BigEndian32(shp.Data() + 4) * size_t{2} != length)
            RaiseDamagedShapefile(path_, oid_, "the record and the index disagree on its length");
        shape_ = std::string_view(reinterpret_cast<const char*>(shp.Data()) + 8, length);
        shp.Skip(8 + length);
        return true;
    }
    return false;
}

}  // namespace host::gis
