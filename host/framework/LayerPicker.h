// The host's layer picker: a combo box listing the feature layers of the
// focus map by name; it yields the chosen name and layer.
#pragma once

#include <string>
#include <vector>

#include "host/forms/Forms.h"
#include "host/framework/Framework.h"
#include "host/gis/Map.h"

namespace host {

class LayerPicker {
public:
    // Fills the combo box and chooses the first layer. kind "Layers" lists
    // feature layers; featureOnly leaves out group layers' own entries.
    void Configure(forms::Control& combo, const gis::ApplicationPtr& application, const DataManagerPtr& dataManager,
                   const std::string& kind, bool featureOnly);
    long LayerCount() const { return static_cast<long>(layers_.size()); }
    // The current layer of the combo box (null when none).
    gis::FeatureLayerPtr Layer() const;
    std::string LayerName() const;

private:
    forms::Control* combo_ = nullptr;
    std::vector<gis::FeatureLayerPtr> layers_;
};

}  // namespace host
