#include "host/gis/PointIndex.h"

#include <gdal_priv.h>

#include <cstring>
#include <fstream>

#include <ogr_geometry.h>

#include <algorithm>
#include <cmath>

namespace host::gis {

PointGrid::PointGrid(std::vector<Point> points) {
    for (auto& p : points) {
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
    nx_ = std::clamp<long>(static_cast<long>(w / side), 1, 4096);
    ny_ = std::clamp<long>(static_cast<long>(h / side), 1, 4096);
    cw_ = w / nx_;
    ch_ = h / ny_;
    std::vector<uint32_t> count(nx_ * ny_ + 1, 0);
    std::vector<uint32_t> cell(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        cell[i] = static_cast<uint32_t>(CellY(points[i].y) * nx_ + CellX(points[i].x));
        ++count[cell[i] + 1];
    }
    for (size_t c = 1; c < count.size(); ++c) count[c] += count[c - 1];
    start_ = count;
    points_.resize(points.size());
    for (size_t i = 0; i < points.size(); ++i) points_[count[cell[i]]++] = points[i];
}

long PointGrid::CellX(double x) const {
    return std::clamp<long>(static_cast<long>((x - bounds_.xmin) / cw_), 0, nx_ - 1);
}

long PointGrid::CellY(double y) const {
    return std::clamp<long>(static_cast<long>((y - bounds_.ymin) / ch_), 0, ny_ - 1);
}

PreparedPolygon::PreparedPolygon(const OGRGeometry& g) {
    auto type = wkbFlatten(g.getGeometryType());
    if (type == wkbPolygon) {
        auto& p = *g.toPolygon();
        for (const auto* ring : p) AddRing(*ring);
    } else if (type == wkbMultiPolygon) {
        for (const auto* p : *g.toMultiPolygon())
            for (const auto* ring : *p) AddRing(*ring);
    }
    if (edges_.empty()) return;
    // Small polygons are tested edge by edge; larger ones by band.
    bands_ = edges_.size() <= 32 ? 1 : static_cast<long>(edges_.size() / 4);
    bandHeight_ = std::max(bounds_.Height(), 1e-12) / bands_;
    std::vector<uint32_t> count(bands_ + 1, 0);
    auto band = [&](double y) { return std::clamp<long>(static_cast<long>((y - bounds_.ymin) / bandHeight_), 0, bands_ - 1); };
    for (auto& e : edges_)
        for (long b = band(std::min(e.y1, e.y2)), b1 = band(std::max(e.y1, e.y2)); b <= b1; ++b) ++count[b + 1];
    for (long b = 1; b <= bands_; ++b) count[b] += count[b - 1];
    bandStart_ = count;
    bandEdges_.resize(count[bands_]);
    for (uint32_t i = 0; i < edges_.size(); ++i) {
        auto& e = edges_[i];
        for (long b = band(std::min(e.y1, e.y2)), b1 = band(std::max(e.y1, e.y2)); b <= b1; ++b)
            bandEdges_[count[b]++] = i;
    }
}

void PreparedPolygon::AddRing(const OGRLinearRing& ring) {
    int n = ring.getNumPoints();
    for (int i = 0; i + 1 < n; ++i) {
        Edge e{ring.getX(i), ring.getY(i), ring.getX(i + 1), ring.getY(i + 1)};
        edges_.push_back(e);
        Envelope pe{std::min(e.x1, e.x2), std::min(e.y1, e.y2), std::max(e.x1, e.x2), std::max(e.y1, e.y2), false};
        bounds_.Union(pe);
    }
}

bool PreparedPolygon::Intersects(double x, double y) const {
    if (edges_.empty() || x < bounds_.xmin || x > bounds_.xmax || y < bounds_.ymin || y > bounds_.ymax) return false;
    long b = std::clamp<long>(static_cast<long>((y - bounds_.ymin) / bandHeight_), 0, bands_ - 1);
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

uint32_t BigEndian32(const unsigned char* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t Little32(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
double LittleDouble(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    in.seekg(0, std::ios::end);
    std::string bytes(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return in ? bytes : std::string();
}

}  // namespace

std::optional<std::vector<OidPoint>> ReadShapefilePoints(const Table& table) {
    GDALDataset* ds = table.OgrDataset();
    if (!ds || !ds->GetDriver() || std::string(ds->GetDriver()->GetDescription()) != "ESRI Shapefile") return std::nullopt;
    if (table.ShapeType() != kGeomPoint) return std::nullopt;
    std::string shp = table.DataPath();
    if (shp.size() < 4 || (shp.substr(shp.size() - 4) != ".shp" && shp.substr(shp.size() - 4) != ".SHP")) return std::nullopt;
    std::string base = shp.substr(0, shp.size() - 4);
    std::string data = ReadWhole(shp);
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    // The file header: code 9994, shape type 1 (point); 2-D points only.
    if (data.size() < 100 || BigEndian32(b) != 9994 || Little32(b + 32) != 1) return std::nullopt;
    std::string dbf = ReadWhole(base + ".dbf");
    if (dbf.empty()) dbf = ReadWhole(base + ".DBF");
    const auto* d = reinterpret_cast<const unsigned char*>(dbf.data());
    uint32_t dbfRows = dbf.size() >= 32 ? Little32(d + 4) : 0;
    size_t dbfHeader = dbf.size() >= 32 ? (d[8] | d[9] << 8) : 0, dbfRecord = dbf.size() >= 32 ? (d[10] | d[11] << 8) : 0;
    std::vector<OidPoint> points;
    size_t at = 100;
    long oid = 0;
    while (at + 8 <= data.size()) {
        size_t length = static_cast<size_t>(BigEndian32(b + at + 4)) * 2;
        const unsigned char* content = b + at + 8;
        if (at + 8 + length > data.size()) return std::nullopt;  // damaged: let OGR say so
        bool deleted = oid < static_cast<long>(dbfRows) && dbfHeader + (oid + 1) * dbfRecord <= dbf.size() &&
                       d[dbfHeader + oid * dbfRecord] == '*';
        if (length >= 20 && Little32(content) == 1 && !deleted)
            points.push_back({LittleDouble(content + 4), LittleDouble(content + 12), oid});
        at += 8 + length;
        ++oid;
    }
    return points;
}

}  // namespace host::gis
