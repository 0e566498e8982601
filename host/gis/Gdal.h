// GDAL as the GIS layer uses it. Opening workspaces and layer sources and
// reading coordinate systems and geometries from text call EnsureGdal
// first; callers need it only when they use GDAL directly.
// GDAL's own error messages are kept quiet and held for LastGdalError,
// which the layer adds to the errors it raises.
#pragma once

#include <string>

namespace host::gis {

// Initialises GDAL once (drivers, error handler); safe from any thread.
void EnsureGdal();
// Last GDAL error text, for messages; reading it clears it.
std::string LastGdalError();

}  // namespace host::gis
