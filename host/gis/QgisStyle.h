// A layer's renderer as a QGIS style, so that an output opened in QGIS
// looks as it does on our map: the style document (".qml") and the places
// QGIS reads a layer's default style from: the file beside a shapefile,
// the table "layer_styles" of a GeoPackage and that of a PostGIS database.
#pragma once

#include <string>

#include "host/gis/Geometry.h"
#include "host/gis/Map.h"

namespace host::gis {

// The QGIS style document that draws shapes of the type as the renderer
// does: a single symbol for a SimpleRenderer, graduated classes of its
// field with their bounds, labels and colours for a ClassBreaksRenderer;
// the fill and outline colours and the outline width in points. Numbers
// are written with a point whatever the locale. Raises for a renderer of
// another kind.
std::string QgisStyleQml(const Renderer& renderer, GeometryType shapeType);

// Saves the layer's renderer as the default QGIS style of its data, under
// the layer's name: the ".qml" beside a shapefile (replaced whole), or the
// layer's row of "layer_styles" in its GeoPackage or, for a table of a
// database, in the schema "public" of that database, where QGIS looks
// for it; the table is made as QGIS makes it when missing, the style
// replaces one of the same name and becomes the only default of the
// layer. Nothing for a layer without renderer or of a single data file
// (whose kind has no place for a style). Raises, naming the layer, when
// the style cannot be written, and then leaves the data as it was.
void SaveQgisStyle(const FeatureLayer& layer);

}  // namespace host::gis
