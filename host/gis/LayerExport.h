// Writing a layer, or the selected features of it, to a file others open:
// a GeoPackage, or a CSV table (X and Y columns for points, the shape as
// WKT otherwise) that spreadsheets read.
#pragma once

#include <string>

#include "host/gis/Map.h"

namespace host::gis {

enum class ExportFormat { kGeoPackage, kCsv };

// The format a file name asks for: ".gpkg" or ".csv" (any case); raises
// for any other name.
ExportFormat ExportFormatFor(const std::string& path);

// Writes the layer's features (only its selection when selectedOnly) with
// their attributes and shapes, in the layer's coordinate system, to path as
// one layer named after the file. The file is written whole beside its
// place and then put there, so that a failure leaves what was there before.
// Returns the number of features written; raises with a message naming
// the file on failure. An empty selection writes no features.
long ExportLayer(const FeatureLayer& layer, const std::string& path, bool selectedOnly);

}  // namespace host::gis
