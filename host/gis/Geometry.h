// Shapes and their extents. A Geometry owns its OGR geometry and carries
// its own copy of the coordinate system it is in; Project moves it into
// another in place and raises when that cannot be done. An Envelope is a
// plain rectangle that knows when it is empty.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Object.h"
#include "host/gis/SpatialReference.h"

class OGRGeometry;

namespace host::gis {

// Host geometry-type codes.
enum GeometryType : int {
    kGeomNull = 0,
    kGeomPoint = 1,
    kGeomMultipoint = 2,
    kGeomPolyline = 3,
    kGeomPolygon = 4,
};

struct Envelope {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    bool empty = true;
    double Width() const { return xmax - xmin; }
    double Height() const { return ymax - ymin; }
    // Enlarges about the centre by the factors.
    void Expand(double fx, double fy);
    void Union(const Envelope& other);
};

class Geometry : public Object {
public:
    explicit Geometry(std::unique_ptr<OGRGeometry> g);
    ~Geometry() override;
    std::string TypeName() const override { return "Geometry"; }

    static std::shared_ptr<Geometry> FromWkt(const std::string& wkt, SpatialReferencePtr sr = nullptr);
    static std::shared_ptr<Geometry> MakeMultipoint(const std::vector<std::pair<double, double>>& pts,
                                                    SpatialReferencePtr sr = nullptr);
    static std::shared_ptr<Geometry> MakeEnvelopePolygon(const Envelope& env, SpatialReferencePtr sr = nullptr);

    std::shared_ptr<Geometry> Clone() const;
    GeometryType Type() const;
    bool IsEmpty() const;
    Envelope GetEnvelope() const;
    SpatialReferencePtr GetSpatialReference() const;
    void AssignSpatialReference(SpatialReferencePtr sr);
    // Projects in place into the spatial reference; raises on failure.
    void Project(const SpatialReferencePtr& target);
    std::string ToWkt() const;

    OGRGeometry* Ogr() const { return g_.get(); }
    std::unique_ptr<OGRGeometry> Release();

private:
    std::unique_ptr<OGRGeometry> g_;
};
using GeometryPtr = std::shared_ptr<Geometry>;

}  // namespace host::gis
