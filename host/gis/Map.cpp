#include "host/gis/Map.h"

#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace host::gis {

Rgb ClassBreaksRenderer::FillFor(const Row& row) const {
    if (colors.empty()) return {200, 200, 200};
    long idx = row.GetFields()->FindField(field);
    if (idx < 0) return colors.front();
    Variant v = row.Value(idx);
    if (v.IsEmpty()) return {230, 230, 230};
    double d = v.ToDouble();
    for (size_t i = 0; i < breaks.size() && i < colors.size(); ++i)
        if (d <= breaks[i]) return colors[i];
    return colors.back();
}

std::vector<double> QuantileBreaks(std::vector<double> values, int classes) {
    std::vector<double> breaks;
    if (values.empty() || classes < 1) return breaks;
    std::sort(values.begin(), values.end());
    for (int i = 1; i <= classes; ++i) {
        size_t at = std::min(values.size() - 1, (values.size() * i + classes - 1) / classes - 1);
        double b = values[at];
        if (breaks.empty() || b > breaks.back()) breaks.push_back(b);
    }
    return breaks;
}

std::vector<Rgb> AlgorithmicRamp(Rgb from, Rgb to, int size) {
    std::vector<Rgb> out;
    for (int i = 0; i < size; ++i) {
        double t = size > 1 ? double(i) / (size - 1) : 0;
        auto mix = [&](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
        out.push_back({mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)});
    }
    return out;
}

StyleGallery& StyleGallery::Instance() {
    static StyleGallery g;
    return g;
}

const std::vector<Rgb>* StyleGallery::FindColorRamp(const std::string& name) const {
    auto it = ramps_.find(name);
    return it == ramps_.end() ? nullptr : &it->second;
}

Envelope GroupLayer::Extent() const {
    Envelope e;
    for (auto& l : layers) e.Union(l->Extent());
    return e;
}

void GroupLayer::Remove(const LayerPtr& l) {
    layers.erase(std::remove(layers.begin(), layers.end(), l), layers.end());
}

const LayerPtr& Map::GetLayer(long i) const {
    if (i < 0 || i >= LayerCount()) Raise(kErrSubscript, "Layer index out of range", "PXGIS");
    return layers[i];
}

void Map::MoveLayer(const LayerPtr& l, long toIndex) {
    auto it = std::find(layers.begin(), layers.end(), l);
    if (it == layers.end()) Raise(kErrInvalidCall, "The layer is not in the map", "PXGIS");
    layers.erase(it);
    toIndex = std::clamp(toIndex, 0L, LayerCount());
    layers.insert(layers.begin() + toIndex, l);
}

void Map::DeleteLayer(const LayerPtr& l) {
    auto it = std::find(layers.begin(), layers.end(), l);
    if (it != layers.end()) {
        layers.erase(it);
        return;
    }
    for (auto& top : layers)
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(top)) g->Remove(l);
}

namespace {
void Collect(const std::vector<LayerPtr>& src, std::vector<LayerPtr>& out) {
    for (auto& l : src) {
        out.push_back(l);
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(l)) Collect(g->layers, out);
    }
}
}  // namespace

std::vector<LayerPtr> Map::AllLayers() const {
    std::vector<LayerPtr> out;
    Collect(layers, out);
    return out;
}

Envelope Map::FullExtent() const {
    Envelope e;
    for (auto& l : layers)
        if (l->visible) e.Union(l->Extent());
    return e;
}

Application::Application() {
    focusMap = std::make_shared<Map>();
    maps.push_back(focusMap);
}

ObjectPtr Application::FindExtension(const std::string& progId) const {
    auto it = extensions_.find(progId);
    return it == extensions_.end() ? nullptr : it->second;
}

// ---------------- picture of the map ----------------

namespace {

struct Canvas {
    GDALDataset* ds = nullptr;
    double gt[6] = {0, 1, 0, 0, 0, -1};
    double pixel = 1;  // map units per pixel
};

void Burn(Canvas& c, std::vector<OGRGeometry*>& geoms, std::vector<double>& burn, bool allTouched) {
    if (geoms.empty()) return;
    int bands[3] = {1, 2, 3};
    std::vector<OGRGeometryH> handles;
    for (auto* g : geoms) handles.push_back(OGRGeometry::ToHandle(g));
    const char* opts[] = {allTouched ? "ALL_TOUCHED=TRUE" : "ALL_TOUCHED=FALSE", nullptr};
    GDALRasterizeGeometries(GDALDataset::ToHandle(c.ds), 3, bands, static_cast<int>(handles.size()), handles.data(),
                            nullptr, nullptr, burn.data(), const_cast<char**>(opts), nullptr, nullptr);
}

void AddRingLines(const OGRGeometry* g, std::vector<std::unique_ptr<OGRGeometry>>& out) {
    switch (wkbFlatten(g->getGeometryType())) {
        case wkbPolygon: {
            auto* p = g->toPolygon();
            for (auto* ring : *p) {
                auto ls = std::make_unique<OGRLineString>();
                ls->addSubLineString(ring);
                out.push_back(std::move(ls));
            }
            break;
        }
        case wkbMultiPolygon:
            for (auto* p : *g->toMultiPolygon()) AddRingLines(p, out);
            break;
        case wkbLineString:
        case wkbMultiLineString: out.emplace_back(g->clone()); break;
        default: break;
    }
}

void DrawFeatureLayer(Canvas& c, const FeatureLayer& layer, const SpatialReferencePtr& mapSr) {
    if (!layer.featureClass || !layer.featureClass->HasShape()) return;
    auto cursor = layer.featureClass->Search(nullptr, false);
    std::vector<std::unique_ptr<OGRGeometry>> fills, lines;
    std::vector<double> fillBurn, lineBurn;
    auto layerSr = layer.featureClass->GetSpatialReference();
    std::unique_ptr<OGRCoordinateTransformation> ct;
    if (mapSr && layerSr && !layerSr->IsSame(*mapSr))
        ct.reset(OGRCreateCoordinateTransformation(&layerSr->Ogr(), &mapSr->Ogr()));
    Rgb outline = layer.renderer ? layer.renderer->outlineColor : Rgb{90, 90, 90};
    while (auto row = cursor->NextRow()) {
        OGRGeometry* g = row->Ogr()->GetGeometryRef();
        if (!g) continue;
        std::unique_ptr<OGRGeometry> geom(g->clone());
        if (ct) geom->transform(ct.get());
        Rgb fill = layer.renderer ? layer.renderer->FillFor(*row) : Rgb{210, 210, 210};
        bool selected = layer.selection.count(row->OID()) > 0;
        auto type = wkbFlatten(geom->getGeometryType());
        if (type == wkbPoint || type == wkbMultiPoint) {
            // Points are drawn as small squares.
            double r = c.pixel * (selected ? 3.0 : 2.0);
            auto pts = std::vector<OGRPoint*>();
            if (type == wkbPoint) pts.push_back(geom->toPoint());
            else for (auto* p : *geom->toMultiPoint()) pts.push_back(p);
            for (auto* p : pts) {
                auto ring = new OGRLinearRing();
                ring->addPoint(p->getX() - r, p->getY() - r);
                ring->addPoint(p->getX() - r, p->getY() + r);
                ring->addPoint(p->getX() + r, p->getY() + r);
                ring->addPoint(p->getX() + r, p->getY() - r);
                ring->addPoint(p->getX() - r, p->getY() - r);
                auto poly = std::make_unique<OGRPolygon>();
                poly->addRingDirectly(ring);
                Rgb col = selected ? Rgb{0, 255, 255} : (layer.renderer ? fill : Rgb{200, 30, 30});
                fills.push_back(std::move(poly));
                fillBurn.insert(fillBurn.end(), {double(col.r), double(col.g), double(col.b)});
            }
            continue;
        }
        AddRingLines(geom.get(), lines);
        while (lineBurn.size() < lines.size() * 3) {
            Rgb o = selected ? Rgb{0, 255, 255} : outline;
            lineBurn.insert(lineBurn.end(), {double(o.r), double(o.g), double(o.b)});
        }
        if (type == wkbPolygon || type == wkbMultiPolygon) {
            fills.push_back(std::move(geom));
            fillBurn.insert(fillBurn.end(), {double(fill.r), double(fill.g), double(fill.b)});
        }
    }
    std::vector<OGRGeometry*> f, l;
    for (auto& g : fills) f.push_back(g.get());
    for (auto& g : lines) l.push_back(g.get());
    Burn(c, f, fillBurn, false);
    Burn(c, l, lineBurn, true);
}

void DrawLayers(Canvas& c, const std::vector<LayerPtr>& layers, const SpatialReferencePtr& mapSr) {
    // Index 0 is on top, so draw from the bottom of the list up.
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!(*it)->visible) continue;
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(*it)) DrawLayers(c, g->layers, mapSr);
        else if (auto fl = std::dynamic_pointer_cast<FeatureLayer>(*it)) DrawFeatureLayer(c, *fl, mapSr);
    }
}

SpatialReferencePtr FirstLayerSr(const std::vector<LayerPtr>& layers) {
    for (auto& l : layers) {
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(l)) {
            if (auto sr = FirstLayerSr(g->layers)) return sr;
        } else if (auto fl = std::dynamic_pointer_cast<FeatureLayer>(l)) {
            if (fl->featureClass) return fl->featureClass->GetSpatialReference();
        }
    }
    return nullptr;
}

}  // namespace

void RenderMapToPng(const Map& map, const std::string& path, int width, int height, const std::string&) {
    EnsureGdal();
    // A picture has some pixels, and not so many that drawing it fails.
    if (width < 1 || height < 1 || width > 20000 || height > 20000)
        Raise(kErrInvalidCall, "A map picture must be 1 to 20000 pixels wide and high, not " + std::to_string(width) +
                                   " x " + std::to_string(height), "PXGIS");
    SpatialReferencePtr mapSr = map.spatialReference ? map.spatialReference : FirstLayerSr(map.layers);
    Envelope e = map.extent.empty ? map.FullExtent() : map.extent;
    if (e.empty) e = {0, 0, 1, 1, false};
    if (e.Width() <= 0) e.xmax = e.xmin + 1;
    if (e.Height() <= 0) e.ymax = e.ymin + 1;
    // Keep the map's aspect: fit the extent into the picture.
    double px = std::max(e.Width() / width, e.Height() / height);
    double cx = (e.xmin + e.xmax) / 2, cy = (e.ymin + e.ymax) / 2;
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (!mem || !png) Raise(kErrCannotCreate, "The picture drivers are not available", "PXGIS");
    Canvas c;
    c.ds = mem->Create("", width, height, 3, GDT_Byte, nullptr);
    c.pixel = px;
    c.gt[0] = cx - px * width / 2;
    c.gt[1] = px;
    c.gt[3] = cy + px * height / 2;
    c.gt[5] = -px;
    c.ds->SetGeoTransform(c.gt);
    for (int b = 1; b <= 3; ++b) c.ds->GetRasterBand(b)->Fill(255);
    DrawLayers(c, map.layers, mapSr);
    GDALDataset* out = png->CreateCopy(path.c_str(), c.ds, FALSE, nullptr, nullptr, nullptr);
    bool ok = out != nullptr;
    if (out) GDALClose(GDALDataset::ToHandle(out));
    GDALClose(GDALDataset::ToHandle(c.ds));
    // The PNG driver leaves a georeferencing side file; the picture is all we want.
    std::remove((path + ".aux.xml").c_str());
    if (!ok) Raise(kErrInvalidCall, "The picture " + path + " could not be written: " + LastGdalError(), "PXGIS");
}

}  // namespace host::gis
