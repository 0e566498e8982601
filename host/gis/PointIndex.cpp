#include "host/gis/PointIndex.h"

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

}  // namespace host::gis
