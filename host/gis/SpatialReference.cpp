#include "host/gis/SpatialReference.h"

#include <cpl_conv.h>
#include <ogr_spatialref.h>

#include <cstdlib>

#include "host/gis/Gdal.h"

namespace host::gis {

SpatialReference::SpatialReference() : sr_(std::make_unique<OGRSpatialReference>()) {
    sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}
SpatialReference::SpatialReference(const OGRSpatialReference& sr) : sr_(std::make_unique<OGRSpatialReference>(sr)) {
    sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}
SpatialReference::~SpatialReference() = default;

SpatialReferencePtr SpatialReference::FromEPSG(int code) {
    EnsureGdal();
    auto sr = std::make_shared<SpatialReference>();
    if (sr->sr_->importFromEPSG(code) != OGRERR_NONE) Raise(kErrInvalidCall, "Unknown coordinate system code " + std::to_string(code), "PXGIS");
    sr->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return sr;
}

SpatialReferencePtr SpatialReference::FromWkt(const std::string& wkt) {
    EnsureGdal();
    auto sr = std::make_shared<SpatialReference>();
    if (sr->sr_->importFromWkt(wkt.c_str()) != OGRERR_NONE) Raise(kErrInvalidCall, "Invalid coordinate system text", "PXGIS");
    sr->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return sr;
}

SpatialReferencePtr SpatialReference::FromUserInput(const std::string& text) {
    EnsureGdal();
    auto sr = std::make_shared<SpatialReference>();
    // Only definitions written out or named (EPSG:N, WKT, PROJ strings):
    // never a file to read or an address to fetch.
    if (Trim(text).empty() ||
        sr->sr_->SetFromUserInput(text.c_str(), OGRSpatialReference::SET_FROM_USER_INPUT_LIMITATIONS) != OGRERR_NONE)
        Raise(kErrInvalidCall, "Unknown coordinate system " + text, "PXGIS");
    sr->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return sr;
}

bool SpatialReference::IsGeographic() const { return sr_->IsGeographic() && !sr_->IsProjected(); }
bool SpatialReference::IsProjected() const { return sr_->IsProjected(); }
bool SpatialReference::IsEmpty() const { return sr_->IsEmpty(); }
std::string SpatialReference::Name() const {
    const char* n = sr_->GetName();
    return n ? n : "";
}
int SpatialReference::EpsgCode() const {
    const char* node = sr_->IsProjected() ? "PROJCS" : "GEOGCS";
    const char* auth = sr_->GetAuthorityName(node);
    const char* code = sr_->GetAuthorityCode(node);
    if (auth && code && std::string(auth) == "EPSG") return std::atoi(code);
    return -1;
}
std::string SpatialReference::ToWkt() const {
    char* w = nullptr;
    sr_->exportToWkt(&w);
    std::string s = w ? w : "";
    CPLFree(w);
    return s;
}
SpatialReferencePtr SpatialReference::GeographicCoordinateSystem() const {
    auto g = std::make_shared<SpatialReference>();
    g->sr_->CopyGeogCSFrom(sr_.get());
    g->sr_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return g;
}
bool SpatialReference::IsSame(const SpatialReference& other) const { return sr_->IsSame(other.sr_.get()) != 0; }
void SpatialReference::SetProjectionParameter(const std::string& name, double value) {
    if (sr_->SetNormProjParm(name.c_str(), value) != OGRERR_NONE)
        Raise(kErrInvalidCall, "Cannot set projection parameter " + name, "PXGIS");
}
double SpatialReference::ProjectionParameter(const std::string& name) const {
    return sr_->GetNormProjParm(name.c_str(), 0.0);
}

}  // namespace host::gis
