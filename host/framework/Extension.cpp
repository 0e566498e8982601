#include "host/framework/Extension.h"

#include "host/gis/LayerSource.h"

namespace host {

gis::FeatureClassPtr DataWorkspace::OpenFeatureClass(const std::string& name) {
    auto it = open_.find(name);
    if (it != open_.end()) return it->second;
    gis::FeatureClassPtr fc;
    for (auto& l : layers_)
        if (l->datasetName == name && (!l->source.empty() || !l->srs.empty())) fc = OpenLayer(*l, ws_);
    if (!fc) fc = ws_->OpenFeatureClass(name);
    open_[name] = fc;
    return fc;
}

gis::FeatureClassPtr DataWorkspace::OpenLayer(const DatasetLayer& layer, const gis::WorkspacePtr& ws) {
    gis::FeatureClassPtr fc;
    if (!layer.source.empty()) {
        fc = gis::OpenLayerSource(gis::LayerSource::Parse(layer.source));
        if (!fc->HasShape()) Raise(kErrInvalidCall, "The layer " + layer.name + " (" + layer.source + ") has no shapes");
    } else {
        if (!ws) Raise(kErrInvalidCall, "The layer " + layer.name + " has no data workspace");
        fc = ws->OpenFeatureClass(layer.datasetName);
    }
    if (!layer.srs.empty()) fc->AssignSpatialReference(gis::SpatialReference::FromUserInput(layer.srs));
    return fc;
}

gis::CursorPtr DataWorkspace::Search(const std::string& datasetName, const std::string& whereClause,
                                     const std::string&, const gis::GeometryPtr& geometry) {
    auto fc = OpenFeatureClass(datasetName);
    gis::QueryFilter filter;
    filter.whereClause = whereClause;
    filter.geometry = geometry;
    return fc->Search(&filter, false);
}

Extension::Extension(DataManagerPtr dm, HostConfiguration config) : dm_(std::move(dm)), config_(std::move(config)) {}

DataWorkspacePtr Extension::GetDataWorkspace() {
    if (dataWs_ && dataWsDataset_ == config_.currentDataset) return dataWs_;
    DatasetPtr ds;
    for (auto& d : config_.datasets)
        if (d->name == config_.currentDataset) ds = d;
    if (!ds) Raise(kErrInvalidCall, "The current dataset " + config_.currentDataset + " is not configured");
    gis::WorkspacePtr ws = gis::Workspace::OpenData(ds->dataPath);
    dataWs_ = std::make_shared<DataWorkspace>(ws, ds->layers);
    dataWsDataset_ = config_.currentDataset;
    return dataWs_;
}

DataQueryPtr Extension::GetDataQuery(const std::string& layerName) {
    for (auto& d : config_.datasets) {
        if (d->name != config_.currentDataset) continue;
        auto layer = d->LayerByName(layerName);
        if (!layer) return nullptr;
        auto q = std::make_shared<DataQuery>();
        q->layer = layer;
        q->featureClass = GetDataWorkspace()->OpenFeatureClass(layer->datasetName);
        return q;
    }
    return nullptr;
}

std::string Extension::Setting(const std::string& name) const {
    auto it = config_.settings.find(name);
    // The name of the study area, when the configuration gives none.
    if (it == config_.settings.end() && name == "CurrentExtent")
        return bounding_ ? "analysis extent of " + config_.currentDataset : "all of " + config_.currentDataset;
    return it == config_.settings.end() ? "" : it->second;
}

ExtensionPtr FindExtension(const gis::ApplicationPtr& app) {
    if (!app) return nullptr;
    return std::dynamic_pointer_cast<Extension>(app->FindExtension("PXKernel.PXExtension"));
}

}  // namespace host
