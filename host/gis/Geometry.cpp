#include "host/gis/Geometry.h"

#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>

#include "host/gis/GdalSupport.h"

namespace host::gis {

void Envelope::Expand(double fx, double fy) {
    if (empty) return;
    double cx = (xmin + xmax) / 2, cy = (ymin + ymax) / 2;
    double hw = Width() * fx / 2, hh = Height() * fy / 2;
    xmin = cx - hw;
    xmax = cx + hw;
    ymin = cy - hh;
    ymax = cy + hh;
}

void Envelope::Union(const Envelope& o) {
    if (o.empty) return;
    if (empty) {
        *this = o;
        return;
    }
    xmin = std::min(xmin, o.xmin);
    ymin = std::min(ymin, o.ymin);
    xmax = std::max(xmax, o.xmax);
    ymax = std::max(ymax, o.ymax);
}

Geometry::Geometry(std::unique_ptr<OGRGeometry> g) : g_(std::move(g)) {}

namespace {
// Geometries keep a counted reference of their own; our spatial reference
// objects own theirs outright, so a geometry always gets a copy.
void AssignCopy(OGRGeometry* g, const OGRSpatialReference* sr) {
    if (!sr) {
        g->assignSpatialReference(nullptr);
        return;
    }
    OGRSpatialReference* copy = sr->Clone();
    copy->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    g->assignSpatialReference(copy);
    copy->Release();
}
}  // namespace
Geometry::~Geometry() = default;

GeometryPtr Geometry::FromWkt(const std::string& wkt, SpatialReferencePtr sr) {
    EnsureGdal();
    OGRGeometry* g = nullptr;
    const char* p = wkt.c_str();
    if (OGRGeometryFactory::createFromWkt(p, nullptr, &g) != OGRERR_NONE || !g)
        Raise(kErrInvalidCall, "Invalid geometry text", "PXGIS");
    auto out = std::make_shared<Geometry>(std::unique_ptr<OGRGeometry>(g));
    if (sr) out->AssignSpatialReference(sr);
    return out;
}

GeometryPtr Geometry::MakeMultipoint(const std::vector<std::pair<double, double>>& pts, SpatialReferencePtr sr) {
    auto mp = std::make_unique<OGRMultiPoint>();
    for (auto& [x, y] : pts) mp->addGeometryDirectly(new OGRPoint(x, y));
    auto out = std::make_shared<Geometry>(std::move(mp));
    if (sr) out->AssignSpatialReference(sr);
    return out;
}

GeometryPtr Geometry::MakeEnvelopePolygon(const Envelope& e, SpatialReferencePtr sr) {
    auto ring = new OGRLinearRing();
    ring->addPoint(e.xmin, e.ymin);
    ring->addPoint(e.xmin, e.ymax);
    ring->addPoint(e.xmax, e.ymax);
    ring->addPoint(e.xmax, e.ymin);
    ring->addPoint(e.xmin, e.ymin);
    auto poly = std::make_unique<OGRPolygon>();
    poly->addRingDirectly(ring);
    auto out = std::make_shared<Geometry>(std::move(poly));
    if (sr) out->AssignSpatialReference(sr);
    return out;
}

GeometryPtr Geometry::Clone() const { return std::make_shared<Geometry>(std::unique_ptr<OGRGeometry>(g_->clone())); }
GeometryType Geometry::Type() const { return g_ ? FromOgrGeomType(g_->getGeometryType()) : kGeomNull; }
bool Geometry::IsEmpty() const { return !g_ || g_->IsEmpty(); }

Envelope Geometry::GetEnvelope() const {
    Envelope e;
    if (IsEmpty()) return e;
    OGREnvelope oe;
    g_->getEnvelope(&oe);
    e = {oe.MinX, oe.MinY, oe.MaxX, oe.MaxY, false};
    return e;
}

SpatialReferencePtr Geometry::GetSpatialReference() const {
    if (!g_ || !g_->getSpatialReference()) return nullptr;
    return std::make_shared<SpatialReference>(*g_->getSpatialReference());
}

void Geometry::AssignSpatialReference(SpatialReferencePtr sr) {
    if (g_) AssignCopy(g_.get(), sr ? &sr->Ogr() : nullptr);
}

void Geometry::Project(const SpatialReferencePtr& target) {
    if (!g_ || !target) return;
    if (!g_->getSpatialReference() || g_->getSpatialReference()->IsSame(&target->Ogr())) {
        AssignCopy(g_.get(), &target->Ogr());
        return;
    }
    std::unique_ptr<OGRCoordinateTransformation> ct(
        OGRCreateCoordinateTransformation(g_->getSpatialReference(), &target->Ogr()));
    if (!ct || g_->transform(ct.get()) != OGRERR_NONE) RaiseGdal("The geometry could not be projected");
    AssignCopy(g_.get(), &target->Ogr());
}

std::string Geometry::ToWkt() const { return g_ ? g_->exportToWkt() : ""; }
std::unique_ptr<OGRGeometry> Geometry::Release() { return std::move(g_); }

}  // namespace host::gis
