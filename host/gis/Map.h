// Maps, layers and renderers of the host GIS, and the application object
// that holds the document, its maps and the extensions.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/gis/Gis.h"

namespace host::gis {

// Packed colour value red + green * 256 + blue * 65536.
struct Rgb {
    int r = 0, g = 0, b = 0;
    long Packed() const { return r + g * 256L + b * 65536L; }
    static Rgb FromPacked(long v) { return {int(v & 255), int((v >> 8) & 255), int((v >> 16) & 255)}; }
};

class Renderer : public Object {
public:
    std::string TypeName() const override { return "Renderer"; }
    // Fill colour of one feature; outline colour and width in points.
    virtual Rgb FillFor(const Row& row) const = 0;
    Rgb outlineColor{110, 110, 110};
    double outlineWidth = 0.4;
};
using RendererPtr = std::shared_ptr<Renderer>;

class SimpleRenderer : public Renderer {
public:
    std::string TypeName() const override { return "SimpleRenderer"; }
    Rgb FillFor(const Row&) const override { return fill; }
    Rgb fill{200, 200, 200};
    std::string label;
};

// Class breaks on a numeric field: value <= breaks[i] gets colors[i].
class ClassBreaksRenderer : public Renderer {
public:
    std::string TypeName() const override { return "ClassBreaksRenderer"; }
    Rgb FillFor(const Row& row) const override;
    std::string field;
    std::vector<double> breaks;
    std::vector<Rgb> colors;
    std::vector<std::string> labels;
    double minimum = 0;
};

// The host's classification: class upper bounds of the values in equal-count
// (quantile) classes; fewer breaks when there are fewer distinct values.
std::vector<double> QuantileBreaks(std::vector<double> values, int classes);

// Algorithmic colour ramp from one colour to another in equal steps.
std::vector<Rgb> AlgorithmicRamp(Rgb from, Rgb to, int size);

// Named colour ramps of the style gallery ("Color Ramps" entries).
class StyleGallery {
public:
    static StyleGallery& Instance();
    const std::vector<Rgb>* FindColorRamp(const std::string& name) const;
    void AddColorRamp(const std::string& name, std::vector<Rgb> colors) { ramps_[name] = std::move(colors); }

private:
    std::map<std::string, std::vector<Rgb>> ramps_;
};

class Layer : public Object {
public:
    std::string TypeName() const override { return "Layer"; }
    std::string name;
    bool visible = true;
    virtual bool IsGroup() const { return false; }
    virtual Envelope Extent() const = 0;
};
using LayerPtr = std::shared_ptr<Layer>;

class FeatureLayer : public Layer {
public:
    std::string TypeName() const override { return "FeatureLayer"; }
    FeatureClassPtr featureClass;
    RendererPtr renderer;
    std::set<long> selection;  // object ids of selected features
    Envelope Extent() const override { return featureClass ? featureClass->Extent() : Envelope{}; }
    GeometryType ShapeType() const { return featureClass ? featureClass->ShapeType() : kGeomNull; }
};
using FeatureLayerPtr = std::shared_ptr<FeatureLayer>;

class GroupLayer : public Layer {
public:
    std::string TypeName() const override { return "GroupLayer"; }
    bool IsGroup() const override { return true; }
    Envelope Extent() const override;
    long Count() const { return static_cast<long>(layers.size()); }
    void Add(LayerPtr l) { layers.push_back(std::move(l)); }
    void Remove(const LayerPtr& l);
    bool expanded = false;
    std::vector<LayerPtr> layers;  // index 0 is drawn on top
};
using GroupLayerPtr = std::shared_ptr<GroupLayer>;

class Map : public Object {
public:
    std::string TypeName() const override { return "Map"; }
    std::string name = "Layers";
    long LayerCount() const { return static_cast<long>(layers.size()); }
    const LayerPtr& GetLayer(long i) const;
    // New layers go to the bottom of the list; MoveLayer places them.
    void AddLayer(LayerPtr l) { layers.push_back(std::move(l)); }
    void MoveLayer(const LayerPtr& l, long toIndex);
    void DeleteLayer(const LayerPtr& l);
    // Every layer, inside groups too, in drawing-list order.
    std::vector<LayerPtr> AllLayers() const;

    std::vector<LayerPtr> layers;  // index 0 is drawn on top
    Envelope extent;               // the view's extent; empty: full extent
    SpatialReferencePtr spatialReference;
    std::string attribution;       // credit for the data, shown under the map; empty: the sources' names
    long refreshCount = 0;
};
using MapPtr = std::shared_ptr<Map>;

// The host GIS application: document with maps, the focus map, extensions.
class Application : public Object {
public:
    Application();
    std::string TypeName() const override { return "Application"; }
    MapPtr FocusMap() const { return focusMap; }
    // The extension registered under a ProgID, or null.
    ObjectPtr FindExtension(const std::string& progId) const;
    void AddExtension(const std::string& progId, ObjectPtr ext) { extensions_[progId] = std::move(ext); }
    void RefreshActiveView() { ++activeViewRefreshes; }
    void RefreshTOC() { ++tocRefreshes; }
    long Hwnd() const { return 1; }

    std::vector<MapPtr> maps;
    MapPtr focusMap;
    long activeViewRefreshes = 0;
    long tocRefreshes = 0;

private:
    std::map<std::string, ObjectPtr> extensions_;
};
using ApplicationPtr = std::shared_ptr<Application>;

}  // namespace host::gis
