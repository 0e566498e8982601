// The layers an analyst brings to the map from files, and the questions a
// map asks of a layer: where it lies in the map's coordinates, which of its
// features a rectangle of the map takes in, which one lies under a point.
#pragma once

#include <string>
#include <vector>

#include "host/gis/Map.h"

namespace host::gis {

// One map layer for every layer with shapes of a vector file GDAL reads (a
// shapefile, a GeoPackage with one or several layers, GeoJSON, ...), named
// after the layer. Raises with one message naming the file when it cannot
// be read, holds no layer with shapes, or a layer has no coordinate system:
// a layer without one could not be placed on the map, nor its customers in
// the areas they lie in.
std::vector<FeatureLayerPtr> OpenDataFile(const std::string& path);

// The coordinate system the map is drawn in: the map's own, else the first
// visible layer's.
SpatialReferencePtr MapSpatialReference(const Map& map);

// The layer's extent in the map's coordinates (empty when it has none).
Envelope LayerExtentInMap(const Map& map, const FeatureLayer& layer);

// Object ids of the layer's features that meet a rectangle given in map
// coordinates, in ascending order.
std::vector<long> FeaturesInRectangle(const Map& map, const FeatureLayer& layer, const Envelope& rectangle);

// The object id of the feature nearest the map point within `tolerance`
// map units (an area that holds the point is at distance 0), or -1.
long FeatureAt(const Map& map, const FeatureLayer& layer, double x, double y, double tolerance);

}  // namespace host::gis
