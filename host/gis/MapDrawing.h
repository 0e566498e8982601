// Pictures of a map: a title, the map, its legend, a scale bar and the
// sources of its data, drawn anti-aliased with real fonts. The one drawing
// goes to a PNG file, a PDF document or a pixel buffer of the caller (the
// desktop window paints that), so that every output shows the same.
#pragma once

#include <string>
#include <vector>

#include "host/gis/Map.h"

namespace host::gis {

// What a picture shows besides the map.
struct MapComposition {
    std::string title;        // empty: no title
    std::string attribution;  // empty: the map's attribution, else the file names of the layers' sources
};

// A rectangle of the picture, in its units (pixels, or points for PDF).
struct PictureBox {
    double x = 0, y = 0, w = 0, h = 0;
    bool Empty() const { return w <= 0 || h <= 0; }
    bool Contains(double px, double py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

// Where the parts of a picture go and which part of the map it shows.
// A picture too small for the composition (under 300 x 200) shows the map
// alone, and then the title, legend and footer boxes are empty. The map box
// shows the map's extent (all its layers when it has none) with 5 % of
// context beyond each side, more across one axis where the box's shape
// asks for it; with the 10 % a zoom to a layer adds, a result keeps about
// a tenth of its size around it.
struct PictureLayout {
    PictureBox title, map, legend, footer;
    Envelope view;               // the map extent the map box shows
    double unitsPerPicture = 1;  // map units per picture unit
    double scale = 1;            // size of text and symbols relative to a picture 1000 wide

    // Picture position of map coordinates, and back.
    void ToPicture(double mx, double my, double& px, double& py) const;
    void ToMap(double px, double py, double& mx, double& my) const;
};
PictureLayout LayoutMapPicture(const Map& map, const MapComposition& composition, double width, double height);

// One line of the legend: a swatch in the layer's symbol and its label.
struct LegendEntry {
    enum Kind { kHeading, kArea, kLine, kPoint } kind = kArea;
    std::string label;
    Rgb fill, outline;
};
// The legend of the visible feature layers, top layer first: the layer's
// name, then one entry per class of its renderer.
std::vector<LegendEntry> MapLegend(const Map& map);
// The class entries of one layer's renderer (no heading), whether shown or not.
std::vector<LegendEntry> LayerLegend(const FeatureLayer& layer);
// The swatch of an entry alone, on a transparent ground, into pixels of the
// caller in the format of RenderMapToBuffer (a list's icon of the class).
void RenderSwatchToBuffer(const LegendEntry& entry, unsigned char* pixels, int width, int height, int stride);

// The attribution line: the composition's text, the map's, or "Data: "
// and the file names of the visible layers' sources.
std::string MapAttribution(const Map& map, const MapComposition& composition);

// Metres on the ground per map unit at a point of the map: the linear unit
// of a projected system; for a geographic one the length of a degree of
// longitude on the ellipsoid at that latitude. 0 when unknown.
double GroundMetresPerUnit(const SpatialReferencePtr& sr, double x, double y);
// A round length of at most `metres` for a scale bar (1, 2 or 5 times a
// power of ten) and its label ("500 m", "20 km").
double RoundScaleLength(double metres);
std::string ScaleLabel(double metres);

// The drawings. Sizes are 1 to 20000 pixels a side and at most 100 million
// pixels in all (PDF: 1 to 14400 points a side); other sizes are refused
// with an error naming them. Files are written whole or not at all.
void RenderMapToPng(const Map& map, const std::string& path, int width, int height,
                    const MapComposition& composition = {});
// Into pixels of the caller: premultiplied ARGB32 in native byte order
// (QImage::Format_ARGB32_Premultiplied), rows `stride` bytes apart.
void RenderMapToBuffer(const Map& map, unsigned char* pixels, int width, int height, int stride,
                       const MapComposition& composition = {});
// One page of width x height points.
void RenderMapToPdf(const Map& map, const std::string& path, double width, double height,
                    const MapComposition& composition = {});

}  // namespace host::gis
