// The layers an analyst brings to the map from files, and the questions a
// map asks of a layer: where it lies in the map's coordinates, which of its
// features a rectangle of the map takes in, which one lies under a point.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/gis/Map.h"

namespace host::gis {

// One map layer for every layer with shapes of a vector file GDAL reads (a
// shapefile, a GeoPackage with one or several layers, GeoJSON, ...), named
// after the layer. Raises with one message naming the file when it cannot
// be read, holds no layer with shapes, or a layer has no coordinate system:
// a layer without one could not be placed on the map, nor its customers in
// the areas they lie in. `assign`, when given, is asked for the system of
// such a layer (by its name) and may answer null to refuse it.
using AssignSystem = std::function<SpatialReferencePtr(const std::string& layer)>;
std::vector<FeatureLayerPtr> OpenDataFile(const std::string& path, const AssignSystem& assign = {});

// How the program refuses a layer that does not say where it lies, after
// "the layer NAME ", with how to give it a system where it came from:
// "has no coordinate system: give it one " + how.
std::string NoCoordinateSystem(const std::string& how);
// How a program that asks for it names a system.
inline constexpr const char* kAsEpsg = "as EPSG:N";

// The coordinate system the map is drawn in: the map's own, else the first
// visible layer's.
SpatialReferencePtr MapSpatialReference(const Map& map);

// The layer's extent in the map's coordinates (empty when it has none).
Envelope LayerExtentInMap(const Map& map, const FeatureLayer& layer);

// What the visible layers cover, each taken into the map's coordinates
// (empty when they cover nothing).
Envelope FullExtentInMap(const Map& map);

// Object ids of the layer's features that meet a rectangle given in map
// coordinates, in ascending order.
std::vector<long> FeaturesInRectangle(const Map& map, const FeatureLayer& layer, const Envelope& rectangle);

// The object id of the feature nearest the map point within `tolerance`
// map units (an area that holds the point is at distance 0), or -1.
long FeatureAt(const Map& map, const FeatureLayer& layer, double x, double y, double tolerance);

}  // namespace host::gis
