// Tools for counting many points in many polygons: a uniform grid over the
// points and polygons prepared for repeated point tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/gis/Table.h"

class OGRGeometry;
class OGRLinearRing;

namespace host::gis {

class StreamedFile;

// Every point of a point shapefile with its object id, read straight from
// the .shp records (rows deleted in the .dbf are left out, as OGR does) and
// handed to visit in the file's order. False when the table is not a plain
// point shapefile or its file is damaged, so that callers read it through a
// cursor instead (after dropping what was visited).
struct OidPoint {
    double x, y;
    long oid;
};
bool ReadShapefilePoints(const Table& table, const std::function<void(const OidPoint&)>& visit);

// The polygons of a polygon shapefile read straight from its files, one
// record after the other, with the numbers of some of its fields: much
// cheaper than features when every polygon is read once. What it hands out
// is valid until the next call of Next.
class ShapefilePolygons {
public:
    // Null unless the table is a polygon shapefile and every field asked
    // for (by host field index) is a number column of its table.
    static std::unique_ptr<ShapefilePolygons> Open(const Table& table, const std::vector<long>& fields);
    ~ShapefilePolygons();
    // Moves to the next polygon whose bounds meet the filter (any, when the
    // filter is empty), passing over rows deleted in the table and empty
    // shapes, as a search would. False at the end; raises an error when the
    // file is damaged.
    bool Next(const Envelope& filter);
    long Oid() const { return oid_; }
    // The rings: ring k holds the points partStarts()[k] up to the next
    // start (or points()), as x, y pairs in xy().
    const std::vector<double>& xy() const { return xy_; }
    const std::vector<int32_t>& partStarts() const { return parts_; }
    // The k-th field asked for; nullopt for a null value.
    std::optional<double> Value(size_t k) const;

private:
    struct Column {
        size_t offset = 0, length = 0;
        bool integer = false;
    };
    ShapefilePolygons() = default;
    std::unique_ptr<StreamedFile> shp_, dbf_;
    std::string path_;
    std::vector<Column> columns_;
    size_t dbfRows_ = 0, dbfRecord_ = 0;
    std::string record_;  // the current row of the table
    std::vector<double> xy_;
    std::vector<int32_t> parts_;
    long oid_ = -1;
};

// Readies a large array that is about to be filled: where the system
// allows, its pages are mapped in one call (and as large pages) rather than
// one fault at a time. Nothing changes for small arrays or elsewhere.
void PrepareToFill(void* data, size_t bytes);

// Points bucketed into a uniform grid of about one point per cell. Each
// point keeps a caller's tag (for example its object id or a flag).
class PointGrid {
public:
    struct Point {
        double x, y;
        uint32_t tag;
    };
    explicit PointGrid(std::vector<Point> points);
    size_t Size() const { return size_; }
    // Position of a point handed out by ForEachNear, 0 .. Size() - 1.
    size_t IndexOf(const Point& p) const { return static_cast<size_t>(&p - points_.get()); }
    const Envelope& Bounds() const { return bounds_; }
    // Calls f(point) for every point whose cell meets the envelope (a
    // superset of the points inside it).
    template <class F>
    void ForEachNear(const Envelope& e, F&& f) const {
        if (size_ == 0 || e.empty || e.xmax < bounds_.xmin || e.xmin > bounds_.xmax || e.ymax < bounds_.ymin ||
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
    std::unique_ptr<Point[]> points_;  // sorted by cell, row by row
    size_t size_ = 0;
    std::vector<uint32_t> start_;
    Envelope bounds_;
    long nx_ = 1, ny_ = 1;
    double cw_ = 1, ch_ = 1, perX_ = 1, perY_ = 1;  // cell sizes and their inverses
};

// A polygon or multipolygon prepared for many point tests: its edges are
// sorted into horizontal bands so a test reads only the edges near the point.
class PreparedPolygon {
public:
    PreparedPolygon() = default;
    explicit PreparedPolygon(const OGRGeometry& polygonal);
    // Prepares the rings of a shapefile polygon (see ShapefilePolygons) in
    // place of the polygon prepared before, reusing its storage.
    void Assign(const std::vector<double>& xy, const std::vector<int32_t>& partStarts);
    const Envelope& Bounds() const { return bounds_; }
    // Inside or on the boundary (a point on a shared edge is in both areas).
    bool Intersects(double x, double y) const;
    // Whether the polygon and the box share a point, as the geometry engine
    // decides a search's box filter.
    bool Intersects(const Envelope& box) const;

private:
    struct Edge {
        double x1, y1, x2, y2;
    };
    void AddRing(const OGRLinearRing& ring);
    void AddEdge(double x1, double y1, double x2, double y2);
    void BuildBands();
    // The band a height falls in, the nearest for one outside the bounds;
    // the first for one that is no number.
    long BandOf(double y) const;
    std::vector<Edge> edges_;
    std::vector<uint32_t> bandStart_, bandEdges_;
    Envelope bounds_;
    double bandHeight_ = 1;
    long bands_ = 0;
};

}  // namespace host::gis
