// A layer named the way people name one: a file ("tracts.shp",
// "areas.geojson"), a layer of a multi-layer file ("db.gpkg|tracts") or a
// table of a PostGIS database ("PG:dbname=gis host=db|sales.customers").
// OpenLayerSource turns such a name into an open table or feature class,
// whatever the format, or raises with a message naming the source.
#pragma once

#include <string>

#include "host/gis/Table.h"

namespace host::gis {

struct LayerSource {
    std::string file;
    std::string layer;  // empty: the file's only layer
    static LayerSource Parse(const std::string& spec);
    std::string ToString() const { return layer.empty() ? file : file + "|" + layer; }
};
// Opens the feature class or table of a source: shapefiles through a folder
// workspace, GeoPackages and PostGIS tables through their database,
// anything else read-only.
// Raises with a message naming the source when it cannot be opened, or
// when a multi-layer file is named without its layer.
TablePtr OpenLayerSource(const LayerSource& source);

}  // namespace host::gis
