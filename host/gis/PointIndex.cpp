#include "host/gis/PointIndex.h"

#include "host/gis/ShapefileFiles.h"

#include <gdal_priv.h>

#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif


namespace host::gis {

namespace {

// v cut to a whole number from first to last; a value that is no number
// (from a coordinate that is none, or infinite) is first.
inline long ClampedIndex(double v, long first, long last) {
    if (!(v > static_cast<double>(first))) return first;
    return v < static_cast<double>(last) ? static_cast<long>(v) : last;
}

}  // namespace

void PrepareToFill(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (bytes < (size_t{4} << 20)) return;
    const uintptr_t page = 4096, large = uintptr_t{2} << 20;
    uintptr_t begin = reinterpret_cast<uintptr_t>(data), end = begin + bytes;
    uintptr_t largeBegin = (begin + large - 1) & ~(large - 1), largeEnd = end & ~(large - 1);
    if (largeEnd > largeBegin) madvise(reinterpret_cast<void*>(largeBegin), largeEnd - largeBegin, MADV_HUGEPAGE);
    uintptr_t pageBegin = (begin + page - 1) & ~(page - 1), pageEnd = end & ~(page - 1);
    if (pageEnd > pageBegin) madvise(reinterpret_cast<void*>(pageBegin), pageEnd - pageBegin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

PointGrid::PointGrid(std::vector<Point> points) : size_(points.size()) {
    for (auto& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;  // in no cell's bounds
        if (bounds_.empty) {
            bounds_ = {p.x, p.y, p.x, p.y, false};
            continue;
        }
        bounds_.xmin = std::min(bounds_.xmin, p.x);
        bounds_.xmax = std::max(bounds_.xmax, p.x);
        bounds_.ymin = std::min(bounds_.ymin, p.y);
        bounds_.ymax = std::max(bounds_.ymax, p.y);
    }
    // About one point per cell, in the shape of the points' extent.
    double w = std::max(bounds_.Width(), 1e-12), h = std::max(bounds_.Height(), 1e-12);
    double cells = std::max<double>(1, static_cast<double>(points.size()));
    double side = std::sqrt(w * h / cells);
    nx_ = ClampedIndex(w / side, 1, 4096);
    ny_ = ClampedIndex(h / side, 1, 4096);
    cw_ = w / nx_;
    ch_ = h / ny_;
    perX_ = 1 / cw_;
    perY_ = 1 / ch_;
    auto cellOf = [&](const Point& p) { return static_cast<uint32_t>(CellY(p.y) * nx_ + CellX(p.x)); };
    start_.reserve(static_cast<size_t>(nx_ * ny_ + 1));
    PrepareToFill(start_.data(), start_.capacity() * sizeof(uint32_t));
    start_.assign(static_cast<size_t>(nx_ * ny_ + 1), 0);
    for (auto& p : points) ++start_[cellOf(p) + 1];
    for (size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
    // Each point to the next free slot of its cell.
    std::vector<uint32_t> next;
    next.reserve(start_.size() - 1);
    PrepareToFill(next.data(), next.capacity() * sizeof(uint32_t));
    next.assign(start_.begin(), start_.end() - 1);
    points_.reset(new Point[size_]);  // left unset: each slot is written once
    PrepareToFill(points_.get(), size_ * sizeof(Point));
    for (auto& p : points) points_[next[cellOf(p)]++] = p;
}

long PointGrid::CellX(double x) const { return ClampedIndex((x - bounds_.xmin) * perX_, 0, nx_ - 1); }

long PointGrid::CellY(double y) const { return ClampedIndex((y - bounds_.ymin) * perY_, 0, ny_ - 1); }

PreparedPolygon::PreparedPolygon(const OGRGeometry& g) {
    auto type = wkbFlatten(g.getGeometryType());
    if (type == wkbPolygon) {
        auto& p = *g.toPolygon();
        for (const auto* ring : p) AddRing(*ring);
    } else if (type == wkbMultiPolygon) {
        for (const auto* p : *g.toMultiPolygon())
            for (const auto* ring : *p) AddRing(*ring);
    }
    BuildBands();
}

void PreparedPolygon::Assign(const std::vector<double>& xy, const std::vector<int32_t>& partStarts) {
    edges_.clear();
    bounds_ = Envelope();
    size_t points = xy.size() / 2;
    for (size_t k = 0; k < partStarts.size(); ++k) {
        size_t from = static_cast<size_t>(partStarts[k]);
        size_t to = k + 1 < partStarts.size() ? static_cast<size_t>(partStarts[k + 1]) : points;
        for (size_t i = from; i + 1 < to; ++i) AddEdge(xy[2 * i], xy[2 * i + 1], xy[2 * i + 2], xy[2 * i + 3]);
    }
    BuildBands();
}

void PreparedPolygon::BuildBands() {
    bandStart_.clear();
    bandEdges_.clear();
    bands_ = 0;
    if (edges_.empty()) return;
    // Small polygons are tested edge by edge; larger ones by band.
    bands_ = edges_.size() <= 32 ? 1 : static_cast<long>(edges_.size() / 4);
    bandHeight_ = std::max(bounds_.Height(), 1e-12) / bands_;
    if (bands_ == 1) {
        bandStart_ = {0, static_cast<uint32_t>(edges_.size())};
        for (uint32_t i = 0; i < edges_.size(); ++i) bandEdges_.push_back(i);
        return;
    }
    std::vector<uint32_t>& count = bandStart_;
    count.assign(bands_ + 1, 0);
    for (auto& e : edges_)
        for (long b = BandOf(std::min(e.y1, e.y2)), b1 = BandOf(std::max(e.y1, e.y2)); b <= b1; ++b) ++count[b + 1];
    for (long b = 1; b <= bands_; ++b) count[b] += count[b - 1];
    bandEdges_.resize(count[bands_]);
    std::vector<uint32_t> next(count.begin(), count.end() - 1);
    for (uint32_t i = 0; i < edges_.size(); ++i) {
        auto& e = edges_[i];
        for (long b = BandOf(std::min(e.y1, e.y2)), b1 = BandOf(std::max(e.y1, e.y2)); b <= b1; ++b)
            bandEdges_[next[b]++] = i;
    }
}

long PreparedPolygon::BandOf(double y) const { return ClampedIndex((y - bounds_.ymin) / bandHeight_, 0, bands_ - 1); }

void PreparedPolygon::AddRing(const OGRLinearRing& ring) {
    int n = ring.getNumPoints();
    for (int i = 0; i + 1 < n; ++i) AddEdge(ring.getX(i), ring.getY(i), ring.getX(i + 1), ring.getY(i + 1));
}

void PreparedPolygon::AddEdge(double x1, double y1, double x2, double y2) {
    edges_.push_back({x1, y1, x2, y2});
    bounds_.Union({std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2), false});
}

bool PreparedPolygon::Intersects(double x, double y) const {
    if (edges_.empty() || x < bounds_.xmin || x > bounds_.xmax || y < bounds_.ymin || y > bounds_.ymax) return false;
    long b = BandOf(y);
    bool inside = false;
    for (uint32_t k = bandStart_[b]; k < bandStart_[b + 1]; ++k) {
        const Edge& e = edges_[bandEdges_[k]];
        if ((e.y1 > y) != (e.y2 > y)) {
            double xi = e.x1 + (y - e.y1) * (e.x2 - e.x1) / (e.y2 - e.y1);
            if (x == xi) return true;  // on the edge
            if (x < xi) inside = !inside;
        } else if (e.y1 == y && e.y2 == y && x >= std::min(e.x1, e.x2) && x <= std::max(e.x1, e.x2)) {
            return true;  // on a horizontal edge
        } else if ((e.y1 == y && e.x1 == x) || (e.y2 == y && e.x2 == x)) {
            return true;  // on a vertex
        }
    }
    return inside;
}

namespace {

// Whether the segment from (x1, y1) to (x2, y2) meets the box (its ends
// clipped against each side in turn).
bool SegmentMeetsBox(double x1, double y1, double x2, double y2, const Envelope& b) {
    double t0 = 0, t1 = 1, dx = x2 - x1, dy = y2 - y1;
    auto clip = [&](double p, double q) {  // the part where p * t <= q
        if (p == 0) return q >= 0;
        double t = q / p;
        if (p < 0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
        return true;
    };
    return clip(-dx, x1 - b.xmin) && clip(dx, b.xmax - x1) && clip(-dy, y1 - b.ymin) && clip(dy, b.ymax - y1);
}

}  // namespace

bool PreparedPolygon::Intersects(const Envelope& box) const {
    if (edges_.empty() || box.empty || bounds_.xmax < box.xmin || bounds_.xmin > box.xmax || bounds_.ymax < box.ymin ||
        bounds_.ymin > box.ymax)
        return false;
    if (bounds_.xmin >= box.xmin && bounds_.xmax <= box.xmax && bounds_.ymin >= box.ymin && bounds_.ymax <= box.ymax)
        return true;
    if (Intersects(box.xmin, box.ymin)) return true;  // the box within the polygon
    for (auto& e : edges_)
        if (SegmentMeetsBox(e.x1, e.y1, e.x2, e.y2, box)) return true;
    return false;
}

bool ReadShapefilePoints(const Table& table, const std::function<void(const OidPoint&)>& visit) {
    // 2-D points only (shape type 1).
    MainShapeFile main = OpenMainShapeFile(table, kGeomPoint);
    if (!main.file || main.shapeType != 1) return false;
    StreamedFile& shp = *main.file;
    StreamedFile dbf(main.base + ".dbf");
    DbfLayout layout = ReadDbfHeader(dbf);
    for (long oid = 0; shp.Need(8); ++oid) {
        size_t length = static_cast<size_t>(BigEndian32(shp.Data() + 4)) * 2;
        if (!shp.Need(8 + length)) return false;  // damaged: let OGR say so
        const unsigned char* content = shp.Data() + 8;
        bool hasRow = static_cast<size_t>(oid) < layout.rows && dbf.Need(layout.record);
        bool deleted = hasRow && dbf.Data()[0] == '*';
        if (hasRow) dbf.Skip(layout.record);
        if (length >= 20 && Little32(content) == 1 && !deleted)
            visit({LittleDouble(content + 4), LittleDouble(content + 12), oid});
        shp.Skip(8 + length);
    }
    return true;
}

ShapefilePolygons::~ShapefilePolygons() = default;

std::unique_ptr<ShapefilePolygons> ShapefilePolygons::Open(const Table& table, const std::vector<long>& fields) {
    // Polygons, with or without Z and M: their x, y come first alike.
    MainShapeFile main = OpenMainShapeFile(table, kGeomPolygon);
    if (!main.file || (main.shapeType != 5 && main.shapeType != 15 && main.shapeType != 25)) return nullptr;
    std::unique_ptr<ShapefilePolygons> reader(new ShapefilePolygons());
    reader->path_ = main.base + ".shp";
    reader->shp_ = std::move(main.file);
    reader->dbf_ = std::make_unique<StreamedFile>(main.base + ".dbf");
    DbfLayout layout = ReadDbfHeader(*reader->dbf_);
    reader->dbfRows_ = layout.rows;
    reader->dbfRecord_ = layout.record;
    for (long field : fields) {
        auto f = FindDbfField(table, layout, field);
        if (!f || (f->value != DbfField::kWholeNumber && f->value != DbfField::kRealNumber)) return nullptr;
        reader->columns_.push_back({f->column.offset, f->column.length, f->value == DbfField::kWholeNumber});
    }
    return reader;
}

bool ShapefilePolygons::Next(const Envelope& filter) {
    StreamedFile& shp = *shp_;
    while (shp.Need(8)) {
        ++oid_;
        size_t length = static_cast<size_t>(BigEndian32(shp.Data() + 4)) * 2;
        if (!shp.Need(8 + length)) RaiseDamagedShapefile(path_, oid_);
        const unsigned char* content = shp.Data() + 8;
        bool hasRow = static_cast<size_t>(oid_) < dbfRows_ && dbf_->Need(dbfRecord_);
        if (hasRow) {
            record_.assign(reinterpret_cast<const char*>(dbf_->Data()), dbfRecord_);
            dbf_->Skip(dbfRecord_);
        } else {
            record_.clear();
        }
        shp.Skip(8 + length);
        if (hasRow && record_[0] == '*') continue;  // deleted
        // Type, bounds, part and point counts, parts, points.
        if (length < 44 || Little32(content) == 0) continue;  // no shape
        Envelope bounds{LittleDouble(content + 4), LittleDouble(content + 12), LittleDouble(content + 20),
                        LittleDouble(content + 28), false};
        uint32_t parts = Little32(content + 36), points = Little32(content + 40);
        if (parts == 0 || points == 0) continue;  // empty
        if (44 + 4 * static_cast<size_t>(parts) + 16 * static_cast<size_t>(points) > length)
            RaiseDamagedShapefile(path_, oid_);
        if (!filter.empty && (bounds.xmax < filter.xmin || bounds.xmin > filter.xmax || bounds.ymax < filter.ymin ||
                              bounds.ymin > filter.ymax))
            continue;
        parts_.resize(parts);
        for (uint32_t k = 0; k < parts; ++k) {
            parts_[k] = static_cast<int32_t>(Little32(content + 44 + 4 * k));
            if (parts_[k] < 0 || static_cast<uint32_t>(parts_[k]) >= points) RaiseDamagedShapefile(path_, oid_);
        }
        xy_.resize(2 * static_cast<size_t>(points));
        std::memcpy(xy_.data(), content + 44 + 4 * parts, 16 * static_cast<size_t>(points));
        return true;
    }
    return false;
}

std::optional<double> ShapefilePolygons::Value(size_t k) const {
    const Column& c = columns_[k];
    if (record_.size() < c.offset + c.length) return std::nullopt;
    const char* p = record_.data() + c.offset;
    const char* end = p + c.length;
    while (p < end && *p == ' ') ++p;
    // Blanks or asterisks are null, as for OGR.
    if (p == end || *p == '*') return std::nullopt;
    if (*p == '+') ++p;
    if (c.integer) {
        long long v = 0;
        std::from_chars(p, end, v);
        return static_cast<double>(v);
    }
    double v = 0;
    std::from_chars(p, end, v);
    return v;
}

}  // namespace host::gis
