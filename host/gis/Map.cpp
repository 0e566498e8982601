#include "host/gis/Map.h"

#include <algorithm>
#include <cmath>

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

Application::Application() {
    focusMap = std::make_shared<Map>();
    maps.push_back(focusMap);
}

ObjectPtr Application::FindExtension(const std::string& progId) const {
    auto it = extensions_.find(progId);
    return it == extensions_.end() ? nullptr : it->second;
}

}  // namespace host::gis
