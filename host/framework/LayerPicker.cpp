#include "host/framework/LayerPicker.h"

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
            if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l); fl && fl->featureClass) {
                layers_.push_back(fl);
                combo.AddItem(fl->name);
            }
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
