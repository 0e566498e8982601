#include "host/gis/LayerData.h"

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>

namespace fs = std::filesystem;

namespace host::gis {

namespace {

// The names of a file's layers, as GDAL lists them; raises when GDAL cannot
// read the file.
std::vector<std::string> LayerNames(const std::string& path) {
    EnsureGdal();
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) {
        std::string why = LastGdalError();
        Raise(kErrFileNotFound, path + " cannot be read as a vector data file" + (why.empty() ? "" : ": " + why), "PXGIS");
    }
    std::vector<std::string> names;
    for (int i = 0; i < ds->GetLayerCount(); ++i) names.push_back(ds->GetLayer(i)->GetName());
    return names;
}

// A transformation from one system to another; null when they are the same
// or one is missing.
std::unique_ptr<OGRCoordinateTransformation> Between(const SpatialReferencePtr& from, const SpatialReferencePtr& to) {
    if (!from || !to || from->IsSame(*to)) return nullptr;
    return std::unique_ptr<OGRCoordinateTransformation>(OGRCreateCoordinateTransformation(&from->Ogr(), &to->Ogr()));
}

// The map rectangle as a polygon in the layer's coordinates, its sides
// divided so that a curved projection keeps its shape.
GeometryPtr RectangleInLayer(const Map& map, const FeatureLayer& layer, const Envelope& r) {
    auto polygon = Geometry::MakeEnvelopePolygon(r, MapSpatialReference(map));
    if (auto ct = Between(MapSpatialReference(map), layer.featureClass->GetSpatialReference())) {
        polygon->Ogr()->segmentize(std::max(r.Width(), r.Height()) / 16);
        if (polygon->Ogr()->transform(ct.get()) != OGRERR_NONE) return nullptr;
    }
    return polygon;
}

}  // namespace

std::string NoCoordinateSystem(const std::string& how) { return "has no coordinate system: give it one " + how; }

std::vector<FeatureLayerPtr> OpenDataFile(const std::string& path, const AssignSystem& assign) {
    if (!fs::is_regular_file(path)) Raise(kErrFileNotFound, path + " is not a data file", "PXGIS");
    std::string ext = LCase(fs::path(path).extension().string());
    // A shapefile is opened through its folder, which names the layer after the file.
    std::vector<std::string> names;
    if (ext != ".shp") names = LayerNames(path);
    std::vector<FeatureLayerPtr> out;
    auto add = [&](const LayerSource& source) {
        auto fc = OpenLayerSource(source);
        if (!fc->HasShape()) return;
        if (!fc->GetSpatialReference()) {
            auto given = assign ? assign(source.ToString()) : nullptr;
            if (!given)
                Raise(kErrInvalidCall,
                      "the layer " + source.ToString() + " " + NoCoordinateSystem(kAsEpsg), "PXGIS");
            fc->AssignSpatialReference(given);
        }
        auto layer = std::make_shared<FeatureLayer>();
        layer->featureClass = fc;
        layer->name = fc->Name();
        out.push_back(layer);
    };
    if (names.size() <= 1) add({path, ""});
    else
        for (auto& n : names) add({path, n});
    if (out.empty()) Raise(kErrInvalidCall, path + " holds no layer with shapes to draw", "PXGIS");
    return out;
}

namespace {
SpatialReferencePtr FirstVisibleReference(const std::vector<LayerPtr>& layers) {
    for (auto& l : layers) {
        if (!l->visible) continue;
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(l)) {
            if (auto sr = FirstVisibleReference(g->layers)) return sr;
        } else if (auto fl = std::dynamic_pointer_cast<FeatureLayer>(l); fl && fl->featureClass) {
            if (auto sr = fl->featureClass->GetSpatialReference()) return sr;
        }
    }
    return nullptr;
}
}  // namespace

SpatialReferencePtr MapSpatialReference(const Map& map) {
    return map.spatialReference ? map.spatialReference : FirstVisibleReference(map.layers);
}

Envelope LayerExtentInMap(const Map& map, const FeatureLayer& layer) {
    Envelope e = layer.Extent();
    if (e.empty || !layer.featureClass) return e;
    auto ct = Between(layer.featureClass->GetSpatialReference(), MapSpatialReference(map));
    if (!ct) return e;
    // The corners alone would cut off the bulge of a projected edge.
    OGREnvelope out;
    if (!ct->TransformBounds(e.xmin, e.ymin, e.xmax, e.ymax, &out.MinX, &out.MinY, &out.MaxX, &out.MaxY, 21)) return {};
    return {out.MinX, out.MinY, out.MaxX, out.MaxY, false};
}

namespace {
void UnionVisible(const Map& map, const std::vector<LayerPtr>& layers, Envelope& e) {
    for (auto& l : layers) {
        if (!l->visible) continue;
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(l)) UnionVisible(map, g->layers, e);
        else if (auto fl = std::dynamic_pointer_cast<FeatureLayer>(l)) e.Union(LayerExtentInMap(map, *fl));
    }
}
}  // namespace

Envelope FullExtentInMap(const Map& map) {
    Envelope e;
    UnionVisible(map, map.layers, e);
    return e;
}

std::vector<long> FeaturesInRectangle(const Map& map, const FeatureLayer& layer, const Envelope& rectangle) {
    std::vector<long> ids;
    if (!layer.featureClass || !layer.featureClass->HasShape() || rectangle.empty) return ids;
    QueryFilter filter;
    filter.subFields = layer.featureClass->ShapeFieldName();
    filter.geometry = RectangleInLayer(map, layer, rectangle);
    if (!filter.geometry) return ids;
    auto cursor = layer.featureClass->Search(&filter, true);
    while (auto row = cursor->NextRow()) ids.push_back(row->OID());
    std::sort(ids.begin(), ids.end());
    return ids;
}

long FeatureAt(const Map& map, const FeatureLayer& layer, double x, double y, double tolerance) {
    if (!layer.featureClass || !layer.featureClass->HasShape()) return -1;
    Envelope around{x - tolerance, y - tolerance, x + tolerance, y + tolerance, false};
    QueryFilter filter;
    filter.subFields = layer.featureClass->ShapeFieldName();
    filter.geometry = RectangleInLayer(map, layer, around);
    if (!filter.geometry) return -1;
    OGRPoint point(x, y);
    auto mapSr = MapSpatialReference(map);
    auto ct = Between(mapSr, layer.featureClass->GetSpatialReference());
    if (ct && point.transform(ct.get()) != OGRERR_NONE) return -1;
    // The tolerance in layer units: the size of the searched square there.
    Envelope searched = filter.geometry->GetEnvelope();
    double reach = std::max(searched.Width(), searched.Height()) / 2;
    long best = -1;
    double nearest = std::numeric_limits<double>::max();
    auto cursor = layer.featureClass->Search(&filter, true);
    while (auto row = cursor->NextRow()) {
        const OGRGeometry* shape = row->ShapeRef();
        if (!shape) continue;
        double d = shape->Distance(&point);
        if (d <= reach && d < nearest) {
            nearest = d;
            best = row->OID();
        }
    }
    return best;
}

}  // namespace host::gis
