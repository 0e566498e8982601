#include "host/framework/LayerPicker.h"

#include <algorithm>

namespace host {

void LayerPicker::Configure(forms::Control& combo, const gis::ApplicationPtr& application, const DataManagerPtr&,
                            const std::string&, bool) {
    combo_ = &combo;
    layers_.clear();
    auto keep = combo.onClick;
    combo.onClick = nullptr;
    combo.Clear();
    if (application && application->FocusMap())
        for (auto& l : application->FocusMap()->AllLayers())
            if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l); fl && fl->featureClass) layers_.push_back(fl);
    // Point layers (customers, stores) come first, so that the first choice
    // is one; the others follow in the map's order.
    std::stable_partition(layers_.begin(), layers_.end(),
                          [](const gis::FeatureLayerPtr& l) { return l->ShapeType() == gis::kGeomPoint; });
    for (auto& l : layers_) combo.AddItem(l->name);
    if (!layers_.empty()) combo.SetListIndex(0);
    combo.onClick = keep;
}

gis::FeatureLayerPtr LayerPicker::Layer() const {
    if (!combo_) return nullptr;
    long i = combo_->ListIndex();
    return i >= 0 && i < LayerCount() ? layers_[i] : nullptr;
}

std::string LayerPicker::LayerName() const {
    auto l = Layer();
    return l ? l->name : "";
}

}  // namespace host
