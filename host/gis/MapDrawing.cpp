#include "host/gis/MapDrawing.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <set>

#include "host/gis/LayerData.h"
#include "host/gis/LayerSource.h"
#include "host/gis/PgConnection.h"
#include "host/platform/TextFile.h"

namespace host::gis {

namespace {

constexpr const char* kFace = "DejaVu Sans,sans-serif";
// Map units of context shown beyond each side of the map's extent, as a
// fraction of its size, so that what was zoomed to never touches the frame.
constexpr double kViewMargin = 0.05;
constexpr Rgb kFrame{150, 150, 150}, kText{30, 30, 30}, kQuiet{95, 95, 95}, kSelected{0, 220, 255};

using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using ContextPtr = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void SetColour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }

void FeatureLayersOf(const std::vector<LayerPtr>& layers, std::vector<const FeatureLayer*>& out) {
    for (auto& l : layers) {
        if (!l->visible) continue;
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(l)) FeatureLayersOf(g->layers, out);
        else if (auto fl = std::dynamic_pointer_cast<FeatureLayer>(l)) out.push_back(fl.get());
    }
}

// The visible feature layers, top first.
std::vector<const FeatureLayer*> VisibleFeatureLayers(const Map& map) {
    std::vector<const FeatureLayer*> out;
    FeatureLayersOf(map.layers, out);
    return out;
}

SpatialReferencePtr MapReference(const Map& map) { return MapSpatialReference(map); }

LegendEntry::Kind KindOf(const FeatureLayer& layer) {
    switch (layer.ShapeType()) {
        case kGeomPoint:
        case kGeomMultipoint: return LegendEntry::kPoint;
        case kGeomPolyline: return LegendEntry::kLine;
        default: return LegendEntry::kArea;
    }
}

// ---- text

enum class Align { kLeft, kCentre, kRight };

struct TextStyle {
    double size = 10;
    bool bold = false;
    Rgb colour = kText;
};

using LayoutPtr = std::unique_ptr<PangoLayout, decltype(&g_object_unref)>;

LayoutPtr MakeLayout(cairo_t* cr, const std::string& text, const TextStyle& style, double width, Align align) {
    LayoutPtr layout(pango_cairo_create_layout(cr), &g_object_unref);
    PangoFontDescription* font = pango_font_description_from_string(kFace);
    // Sizes are in the surface's units: pixels for pictures, points for PDF.
    pango_font_description_set_absolute_size(font, style.size * PANGO_SCALE);
    if (style.bold) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_layout_set_font_description(layout.get(), font);
    pango_font_description_free(font);
    // Captions come from files and analysts: never let a broken byte stop the drawing.
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    pango_layout_set_text(layout.get(), valid, -1);
    g_free(valid);
    if (width > 0) {
        pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
        pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
        pango_layout_set_alignment(layout.get(), align == Align::kRight    ? PANGO_ALIGN_RIGHT
                                                 : align == Align::kCentre ? PANGO_ALIGN_CENTER
                                                                           : PANGO_ALIGN_LEFT);
    }
    return layout;
}

// Draws one line of text in a box of the given width (0: as wide as it is),
// its middle at y. Returns the width the text took.
double DrawText(cairo_t* cr, const std::string& text, const TextStyle& style, double x, double y, double width,
                Align align = Align::kLeft) {
    if (text.empty()) return 0;
    auto layout = MakeLayout(cr, text, style, width, align);
    PangoRectangle ink, logical;
    pango_layout_get_extents(layout.get(), &ink, &logical);
    double h = double(logical.height) / PANGO_SCALE;
    SetColour(cr, style.colour);
    cairo_move_to(cr, x, y - h / 2);
    pango_cairo_show_layout(cr, layout.get());
    cairo_new_path(cr);
    return double(logical.width) / PANGO_SCALE;
}

// ---- the map

void AddPoints(cairo_t* cr, const OGRSimpleCurve& curve, const PictureLayout& L, bool close) {
    int n = curve.getNumPoints();
    for (int i = 0; i < n; ++i) {
        double x, y;
        L.ToPicture(curve.getX(i), curve.getY(i), x, y);
        if (i == 0) cairo_move_to(cr, x, y);
        else cairo_line_to(cr, x, y);
    }
    if (close && n > 0) cairo_close_path(cr);
}

void AddPath(cairo_t* cr, const OGRGeometry& g, const PictureLayout& L) {
    switch (wkbFlatten(g.getGeometryType())) {
        case wkbPolygon:
            for (auto* ring : *g.toPolygon()) AddPoints(cr, *ring, L, true);
            break;
        case wkbLineString: AddPoints(cr, *g.toLineString(), L, false); break;
        case wkbMultiPolygon:
        case wkbMultiLineString:
        case wkbGeometryCollection:
            for (auto* part : *g.toGeometryCollection()) AddPath(cr, *part, L);
            break;
        default: break;
    }
}

void CollectPoints(const OGRGeometry& g, std::vector<const OGRPoint*>& out) {
    auto type = wkbFlatten(g.getGeometryType());
    if (type == wkbPoint) out.push_back(g.toPoint());
    else if (type == wkbMultiPoint || type == wkbGeometryCollection)
        for (auto* part : *g.toGeometryCollection()) CollectPoints(*part, out);
}

// Outlines thinner than this vanish once anti-aliased.
double LineWidth(double points, double scale) { return std::max(0.8, points * 96.0 / 72.0) * scale; }

void DrawFeatureLayer(cairo_t* cr, const FeatureLayer& layer, const SpatialReferencePtr& mapSr, const PictureLayout& L) {
    if (!layer.featureClass || !layer.featureClass->HasShape()) return;
    auto layerSr = layer.featureClass->GetSpatialReference();
    std::unique_ptr<OGRCoordinateTransformation> ct;
    if (mapSr && layerSr && !layerSr->IsSame(*mapSr))
        ct.reset(OGRCreateCoordinateTransformation(&layerSr->Ogr(), &mapSr->Ogr()));
    const Renderer* r = layer.renderer.get();
    Rgb outline = r ? r->outlineColor : Rgb{90, 90, 90};
    double outlineWidth = LineWidth(r ? r->outlineWidth : 0.4, L.scale);
    OGREnvelope view;
    view.MinX = L.view.xmin;
    view.MinY = L.view.ymin;
    view.MaxX = L.view.xmax;
    view.MaxY = L.view.ymax;
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    auto cursor = layer.featureClass->Search(nullptr, true);
    while (auto row = cursor->NextRow()) {
        const OGRGeometry* shape = row->ShapeRef();
        if (!shape) continue;
        std::unique_ptr<OGRGeometry> projected;
        if (ct) {
            projected.reset(shape->clone());
            if (projected->transform(ct.get()) != OGRERR_NONE) continue;
            shape = projected.get();
        }
        OGREnvelope bounds;
        shape->getEnvelope(&bounds);
        if (!bounds.Intersects(view)) continue;
        Rgb fill = r ? r->FillFor(*row) : Rgb{210, 210, 210};
        bool selected = layer.selection.count(row->OID()) > 0;
        auto type = wkbFlatten(shape->getGeometryType());
        if (type == wkbPoint || type == wkbMultiPoint) {
            std::vector<const OGRPoint*> points;
            CollectPoints(*shape, points);
            double radius = (selected ? 4.5 : 3.2) * L.scale;
            for (auto* p : points) {
                double x, y;
                L.ToPicture(p->getX(), p->getY(), x, y);
                cairo_new_sub_path(cr);
                cairo_arc(cr, x, y, radius, 0, 2 * M_PI);
            }
            SetColour(cr, selected ? kSelected : (r ? fill : Rgb{200, 30, 30}));
            cairo_fill_preserve(cr);
            SetColour(cr, {60, 60, 60});
            cairo_set_line_width(cr, 0.8 * L.scale);
            cairo_stroke(cr);
            continue;
        }
        AddPath(cr, *shape, L);
        if (type == wkbPolygon || type == wkbMultiPolygon) {
            SetColour(cr, fill);
            cairo_fill_preserve(cr);
            SetColour(cr, selected ? kSelected : outline);
            cairo_set_line_width(cr, selected ? 2 * L.scale : outlineWidth);
        } else {
            // A line's symbol is its colour.
            SetColour(cr, selected ? kSelected : fill);
            cairo_set_line_width(cr, 1.6 * L.scale);
        }
        cairo_stroke(cr);
    }
}

void DrawLayers(cairo_t* cr, const Map& map, const PictureLayout& L) {
    auto layers = VisibleFeatureLayers(map);
    auto sr = MapReference(map);
    // The top of the list is drawn last.
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) DrawFeatureLayer(cr, **it, sr, L);
}

// ---- legend and footer

void DrawSwatch(cairo_t* cr, const LegendEntry& e, double x, double y, double w, double h, double scale) {
    x = std::round(x), y = std::round(y), w = std::round(w), h = std::round(h);
    switch (e.kind) {
        case LegendEntry::kArea:
            cairo_rectangle(cr, x, y, w, h);
            SetColour(cr, e.fill);
            cairo_fill(cr);
            // The outline inside the swatch, so that its colour stays whole in the middle.
            cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
            SetColour(cr, e.outline);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
            break;
        case LegendEntry::kPoint:
            cairo_arc(cr, x + w / 2, y + h / 2, std::min(w, h) * 0.35, 0, 2 * M_PI);
            SetColour(cr, e.fill);
            cairo_fill_preserve(cr);
            SetColour(cr, {60, 60, 60});
            cairo_set_line_width(cr, 0.8 * scale);
            cairo_stroke(cr);
            break;
        case LegendEntry::kLine:
            cairo_move_to(cr, x, y + h / 2);
            cairo_line_to(cr, x + w, y + h / 2);
            SetColour(cr, e.fill);
            cairo_set_line_width(cr, 2 * scale);
            cairo_stroke(cr);
            break;
        case LegendEntry::kHeading: break;
    }
}

void DrawLegend(cairo_t* cr, const Map& map, const PictureBox& box, double u) {
    if (box.Empty()) return;
    cairo_rectangle(cr, box.x + 0.5, box.y + 0.5, box.w - 1, box.h - 1);
    SetColour(cr, {255, 255, 255});
    cairo_fill_preserve(cr);
    SetColour(cr, kFrame);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    double x = box.x + 10 * u, w = box.w - 20 * u, y = box.y + 10 * u, bottom = box.y + box.h - 8 * u;
    DrawText(cr, "Legend", {12.5 * u, true}, x, y + 8 * u, w);
    y += 22 * u;
    const double row = 18 * u, sw = 22 * u, sh = 13 * u;
    bool first = true;
    for (auto& e : MapLegend(map)) {
        double need = e.kind == LegendEntry::kHeading ? row + 6 * u : row;
        if (y + need > bottom) {
            DrawText(cr, "…", {10 * u}, x, y + 2 * u, w);
            break;
        }
        if (e.kind == LegendEntry::kHeading) {
            if (!first) y += 6 * u;
            DrawText(cr, e.label, {10.5 * u, true}, x, y + row / 2, w);
        } else {
            DrawSwatch(cr, e, x, y + (row - sh) / 2, sw, sh, u);
            DrawText(cr, e.label, {10 * u}, x + sw + 8 * u, y + row / 2, w - sw - 8 * u);
        }
        y += row;
        first = false;
    }
}

void DrawScaleBar(cairo_t* cr, const Map& map, const PictureLayout& L, double x, double cy, double maxLength) {
    double cx = (L.view.xmin + L.view.xmax) / 2, cyMap = (L.view.ymin + L.view.ymax) / 2;
    double perUnit = GroundMetresPerUnit(MapReference(map), cx, cyMap);
    if (perUnit <= 0 || maxLength <= 0) return;
    double metresPerPicture = L.unitsPerPicture * perUnit;
    double metres = RoundScaleLength(maxLength * metresPerPicture);
    if (metres <= 0) return;
    double length = metres / metresPerPicture, u = L.scale, h = 6 * u;
    // Four segments, black and white in turn.
    for (int i = 0; i < 4; ++i) {
        cairo_rectangle(cr, x + length * i / 4, cy - h / 2, length / 4, h);
        SetColour(cr, i % 2 ? Rgb{255, 255, 255} : Rgb{40, 40, 40});
        cairo_fill(cr);
    }
    cairo_rectangle(cr, x, cy - h / 2, length, h);
    SetColour(cr, {40, 40, 40});
    cairo_set_line_width(cr, 1 * u);
    cairo_stroke(cr);
    DrawText(cr, ScaleLabel(metres), {10 * u}, x + length + 6 * u, cy, 0);
}

void DrawPicture(cairo_t* cr, const Map& map, const MapComposition& composition, double width, double height) {
    PictureLayout L = LayoutMapPicture(map, composition, width, height);
    double u = L.scale;
    cairo_save(cr);
    SetColour(cr, {255, 255, 255});
    cairo_paint(cr);
    if (!L.title.Empty())
        DrawText(cr, composition.title, {17 * u, true}, L.title.x, L.title.y + L.title.h / 2, L.title.w);

    cairo_save(cr);
    cairo_rectangle(cr, L.map.x, L.map.y, L.map.w, L.map.h);
    cairo_clip(cr);
    DrawLayers(cr, map, L);
    cairo_restore(cr);
    if (!L.legend.Empty()) {
        // Framed like the legend; a lone map fills the picture unframed.
        cairo_rectangle(cr, L.map.x + 0.5, L.map.y + 0.5, L.map.w - 1, L.map.h - 1);
        SetColour(cr, kFrame);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    DrawLegend(cr, map, L.legend, u);
    if (!L.footer.Empty()) {
        double cy = L.footer.y + L.footer.h / 2, barRoom = std::min(L.footer.w * 0.3, 220 * u);
        DrawScaleBar(cr, map, L, L.footer.x + 4 * u, cy, barRoom - 70 * u);
        DrawText(cr, MapAttribution(map, composition), {9.5 * u, false, kQuiet}, L.footer.x + barRoom, cy,
                 L.footer.w - barRoom, Align::kRight);
    }
    cairo_restore(cr);
}

void Check(cairo_status_t status, const std::string& what) {
    if (status != CAIRO_STATUS_SUCCESS)
        Raise(kErrInvalidCall, what + ": " + cairo_status_to_string(status), "PXGIS");
}

void CheckPixels(int width, int height) {
    if (width < 1 || height < 1 || width > 20000 || height > 20000 || double(width) * height > 100e6)
        Raise(kErrInvalidCall, "A map picture must be 1 to 20000 pixels wide and high and at most 100 million pixels, not " +
                                   std::to_string(width) + " x " + std::to_string(height), "PXGIS");
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

void WriteWhole(const std::string& path, const std::string& bytes, const char* what) {
    if (!platform::WriteFileAtomically(path, bytes))
        Raise(kErrPathNotFound, std::string("The ") + what + " " + path + " could not be written", "PXGIS");
}

void Draw(cairo_surface_t* surface, const Map& map, const MapComposition& composition, double width, double height) {
    Check(cairo_surface_status(surface), "The map could not be drawn");
    ContextPtr cr(cairo_create(surface), &cairo_destroy);
    DrawPicture(cr.get(), map, composition, width, height);
    Check(cairo_status(cr.get()), "The map could not be drawn");
    cairo_surface_flush(surface);
}

std::string FormatNumber(double v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::to_string(v);
}

}  // namespace

// ---------------- layout ----------------

void PictureLayout::ToPicture(double mx, double my, double& px, double& py) const {
    px = map.x + (mx - view.xmin) / unitsPerPicture;
    py = map.y + (view.ymax - my) / unitsPerPicture;
}

void PictureLayout::ToMap(double px, double py, double& mx, double& my) const {
    mx = view.xmin + (px - map.x) * unitsPerPicture;
    my = view.ymax - (py - map.y) * unitsPerPicture;
}

PictureLayout LayoutMapPicture(const Map& map, const MapComposition& composition, double width, double height) {
    PictureLayout L;
    double u = L.scale = std::clamp(std::min(width / 1000, height / 500), 0.6, 4.0);
    if (width >= 300 && height >= 200) {
        double pad = 10 * u, top = pad;
        if (!composition.title.empty()) {
            L.title = {pad, pad, width - 2 * pad, 26 * u};
            top += L.title.h + 4 * u;
        }
        auto legend = MapLegend(map);
        double legendWidth = legend.empty() ? 0 : std::min(std::clamp(width * 0.24, 150 * u, 280 * u), width * 0.4);
        // As tall as its entries (the steps DrawLegend takes), at most down to the bottom.
        double legendHeight = 46 * u;
        for (size_t i = 0; i < legend.size(); ++i)
            legendHeight += 18 * u + (legend[i].kind == LegendEntry::kHeading && i > 0 ? 6 * u : 0);
        double footer = 30 * u;
        double mapWidth = width - 2 * pad - (legendWidth > 0 ? legendWidth + pad : 0);
        L.map = {pad, top, mapWidth, height - top - footer - pad};
        L.footer = {pad, L.map.y + L.map.h, mapWidth, footer};
        if (legendWidth > 0)
            L.legend = {width - pad - legendWidth, top, legendWidth, std::min(legendHeight, height - top - pad)};
    } else {
        L.map = {0, 0, width, height};
    }
    Envelope e = map.extent.empty ? FullExtentInMap(map) : map.extent;
    if (e.empty) e = {0, 0, 1, 1, false};
    if (e.Width() <= 0) e.xmax = e.xmin + 1;
    if (e.Height() <= 0) e.ymax = e.ymin + 1;
    e.Expand(1 + 2 * kViewMargin, 1 + 2 * kViewMargin);
    // Keep the map's aspect: fit the extent into the map box, centred.
    double px = std::max(e.Width() / std::max(L.map.w, 1.0), e.Height() / std::max(L.map.h, 1.0));
    double cx = (e.xmin + e.xmax) / 2, cy = (e.ymin + e.ymax) / 2;
    L.unitsPerPicture = px;
    L.view = {cx - px * L.map.w / 2, cy - px * L.map.h / 2, cx + px * L.map.w / 2, cy + px * L.map.h / 2, false};
    return L;
}

std::vector<LegendEntry> LayerLegend(const FeatureLayer& layer) {
    std::vector<LegendEntry> out;
    if (!layer.featureClass || !layer.featureClass->HasShape()) return out;
    auto kind = KindOf(layer);
    const Renderer* r = layer.renderer.get();
    Rgb outline = r ? r->outlineColor : Rgb{90, 90, 90};
    if (auto* breaks = dynamic_cast<const ClassBreaksRenderer*>(r)) {
        for (size_t i = 0; i < breaks->colors.size() && i < breaks->breaks.size(); ++i) {
            std::string label = i < breaks->labels.size() ? breaks->labels[i] : "up to " + FormatNumber(breaks->breaks[i]);
            out.push_back({kind, label, breaks->colors[i], outline});
        }
    } else if (auto* simple = dynamic_cast<const SimpleRenderer*>(r)) {
        out.push_back({kind, simple->label.empty() ? layer.name : simple->label, simple->fill, outline});
    } else {
        out.push_back({kind, layer.name, kind == LegendEntry::kPoint ? Rgb{200, 30, 30} : Rgb{210, 210, 210}, outline});
    }
    return out;
}

std::vector<LegendEntry> MapLegend(const Map& map) {
    std::vector<LegendEntry> out;
    for (auto* layer : VisibleFeatureLayers(map)) {
        auto entries = LayerLegend(*layer);
        if (entries.empty()) continue;
        out.push_back({LegendEntry::kHeading, layer->name, {}, {}});
        out.insert(out.end(), entries.begin(), entries.end());
    }
    return out;
}

void RenderSwatchToBuffer(const LegendEntry& entry, unsigned char* pixels, int width, int height, int stride) {
    CheckPixels(width, height);
    SurfacePtr surface(cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride),
                       &cairo_surface_destroy);
    Check(cairo_surface_status(surface.get()), "swatch");
    ContextPtr cr(cairo_create(surface.get()), &cairo_destroy);
    // Transparent around the symbol, so that it sits on any background.
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    double inset = std::max(1.0, std::min(width, height) * 0.1);
    DrawSwatch(cr.get(), entry, inset, inset, width - 2 * inset, height - 2 * inset, std::min(width, height) / 16.0);
    cairo_surface_flush(surface.get());
}

std::string MapAttribution(const Map& map, const MapComposition& composition) {
    if (!composition.attribution.empty()) return composition.attribution;
    if (!map.attribution.empty()) return map.attribution;
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (auto* layer : VisibleFeatureLayers(map)) {
        if (!layer->featureClass) continue;
        // A file by its name, a table of a database by the table's.
        std::string path = layer->featureClass->DataPath();
        std::string name = PgConnection::IsConnectionString(path) ? LayerSource::Parse(path).layer
                                                                  : std::filesystem::path(path).filename().string();
        if (!name.empty() && seen.insert(name).second) names.push_back(name);
    }
    if (names.empty()) return "";
    std::string text = "Data: ";
    for (size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
    return text;
}

double GroundMetresPerUnit(const SpatialReferencePtr& sr, double, double y) {
    if (!sr || sr->IsEmpty()) return 0;
    const OGRSpatialReference& o = sr->Ogr();
    if (o.IsGeographic()) {
        // The radius of the parallel through the point, per unit of longitude.
        double perUnit = o.GetAngularUnits(nullptr);  // radians
        double a = o.GetSemiMajor(nullptr), invf = o.GetInvFlattening(nullptr);
        double f = invf > 0 ? 1 / invf : 0, e2 = f * (2 - f);
        double phi = std::clamp(y * perUnit, -M_PI / 2, M_PI / 2), s = std::sin(phi);
        return a * std::cos(phi) / std::sqrt(1 - e2 * s * s) * perUnit;
    }
    if (o.IsProjected() || o.IsLocal()) return o.GetLinearUnits(nullptr);
    return 0;
}

double RoundScaleLength(double metres) {
    if (!(metres > 0) || !std::isfinite(metres)) return 0;
    double power = std::pow(10.0, std::floor(std::log10(metres)));
    for (double f : {5.0, 2.0, 1.0})
        if (f * power <= metres * (1 + 1e-9)) return f * power;
    return power;
}

std::string ScaleLabel(double metres) {
    return metres >= 1000 ? FormatNumber(metres / 1000) + " km" : FormatNumber(metres) + " m";
}

// ---------------- the drawings ----------------

void RenderMapToBuffer(const Map& map, unsigned char* pixels, int width, int height, int stride,
                       const MapComposition& composition) {
    CheckPixels(width, height);
    if (!pixels || stride < cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width))
        Raise(kErrInvalidCall, "The pixels for a map picture " + std::to_string(width) + " wide need rows of at least " +
                                   std::to_string(4 * width) + " bytes", "PXGIS");
    SurfacePtr surface(cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride),
                       &cairo_surface_destroy);
    Draw(surface.get(), map, composition, width, height);
}

void RenderMapToPng(const Map& map, const std::string& path, int width, int height, const MapComposition& composition) {
    CheckPixels(width, height);
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), &cairo_surface_destroy);
    Draw(surface.get(), map, composition, width, height);
    std::string bytes;
    Check(cairo_surface_write_to_png_stream(surface.get(), &Append, &bytes), "The picture " + path + " could not be made");
    WriteWhole(path, bytes, "picture");
}

void RenderMapToPdf(const Map& map, const std::string& path, double width, double height,
                    const MapComposition& composition) {
    if (!(width >= 1 && height >= 1 && width <= 14400 && height <= 14400))
        Raise(kErrInvalidCall, "A map page must be 1 to 14400 points wide and high, not " + FormatNumber(width) + " x " +
                                   FormatNumber(height), "PXGIS");
    std::string bytes;
    {
        SurfacePtr surface(cairo_pdf_surface_create_for_stream(&Append, &bytes, width, height), &cairo_surface_destroy);
        if (!composition.title.empty())
            cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, composition.title.c_str());
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Plexa");
        Draw(surface.get(), map, composition, width, height);
        cairo_surface_finish(surface.get());
        Check(cairo_surface_status(surface.get()), "The map page " + path + " could not be made");
    }
    WriteWhole(path, bytes, "map page");
}

}  // namespace host::gis
