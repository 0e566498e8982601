// Tools for counting many points in many polygons: a uniform grid over the
// points and polygons prepared for repeated point tests.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/gis/Table.h"

class OGRGeometry;
class OGRLinearRing;

namespace host::gis {

// Every point of a point shapefile with its object id, read straight from
// the .shp records (rows deleted in the .dbf are left out, as OGR does);
// nullopt when the table is not a plain point shapefile, so that callers
// read it through a cursor instead.
struct OidPoint {
    double x, y;
    long oid;
};
std::optional<std::vector<OidPoint>> ReadShapefilePoints(const Table& table);

// Points bucketed into a uniform grid of about one point per cell. Each
// point keeps a caller's tag (for example its object id or a flag).
class PointGrid {
public:
    struct Point {
        double x, y;
        uint32_t tag;
    };
    explicit PointGrid(std::vector<Point> points);
    size_t Size() const { return points_.size(); }
    // Position of a point handed out by ForEachNear, 0 .. Size() - 1.
    size_t IndexOf(const Point& p) const { return static_cast<size_t>(&p - points_.data()); }
    const Envelope& Bounds() const { return bounds_; }
    // Calls f(point) for every point whose cell meets the envelope (a
    // superset of the points inside it).
    template <class F>
    void ForEachNear(const Envelope& e, F&& f) const {
        if (points_.empty() || e.empty || e.xmax < bounds_.xmin || e.xmin > bounds_.xmax || e.ymax < bounds_.ymin ||
            e.ymin > bounds_.ymax)
            return;
        long c0 = CellX(e.xmin), c1 = CellX(e.xmax), r0 = CellY(e.ymin), r1 = CellY(e.ymax);
        for (long r = r0; r <= r1; ++r) {
            const uint32_t* s = &start_[r * nx_];
            for (uint32_t i = s[c0], end = s[c1 + 1]; i < end; ++i) f(points_[i]);
        }
    }

private:
    long CellX(double x) const;
    long CellY(double y) const;
    std::vector<Point> points_;  // sorted by cell, row by row
    std::vector<uint32_t> start_;
    Envelope bounds_;
    long nx_ = 1, ny_ = 1;
    double cw_ = 1, ch_ = 1;
};

// A polygon or multipolygon prepared for many point tests: its edges are
// sorted into horizontal bands so a test reads only the edges near the point.
class PreparedPolygon {
public:
    explicit PreparedPolygon(const OGRGeometry& polygonal);
    const Envelope& Bounds() const { return bounds_; }
    // Inside or on the boundary (a point on a shared edge is in both areas).
    bool Intersects(double x, double y) const;

private:
    struct Edge {
        double x1, y1, x2, y2;
    };
    void AddRing(const OGRLinearRing& ring);
    std::vector<Edge> edges_;
    std::vector<uint32_t> bandStart_, bandEdges_;
    Envelope bounds_;
    double bandHeight_ = 1;
    long bands_ = 0;
};

}  // namespace host::gis
