// A coordinate system. A SpatialReference owns its definition outright, so
// copies and geometries never share one, and always takes coordinates in
// x = easting/longitude, y = northing/latitude order whatever the
// authority says. Constructors from codes and text raise on anything
// GDAL does not know.
#pragma once

#include <memory>
#include <string>

#include "host/Object.h"

class OGRSpatialReference;

namespace host::gis {

class SpatialReference : public Object {
public:
    SpatialReference();
    explicit SpatialReference(const OGRSpatialReference& sr);
    ~SpatialReference() override;
    std::string TypeName() const override { return "SpatialReference"; }

    static std::shared_ptr<SpatialReference> FromEPSG(int code);
    static std::shared_ptr<SpatialReference> FromWkt(const std::string& wkt);
    // Anything GDAL takes for a coordinate system: "EPSG:4267", WKT, PROJ.
    static std::shared_ptr<SpatialReference> FromUserInput(const std::string& text);

    bool IsGeographic() const;
    bool IsProjected() const;
    bool IsEmpty() const;
    std::string Name() const;
    int EpsgCode() const;  // -1 when unknown
    std::string ToWkt() const;
    // The geographic system underlying a projected one.
    std::shared_ptr<SpatialReference> GeographicCoordinateSystem() const;
    bool IsSame(const SpatialReference& other) const;
    // Projection parameters ("central_meridian", "standard_parallel_1", ...).
    void SetProjectionParameter(const std::string& name, double value);
    double ProjectionParameter(const std::string& name) const;

    const OGRSpatialReference& Ogr() const { return *sr_; }
    OGRSpatialReference& Ogr() { return *sr_; }

private:
    std::unique_ptr<OGRSpatialReference> sr_;
};
using SpatialReferencePtr = std::shared_ptr<SpatialReference>;

}  // namespace host::gis
