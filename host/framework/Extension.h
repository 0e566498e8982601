// The host's extension: what a running analysis sees of the host. It
// holds the configuration and the data manager, opens the current
// dataset's data workspace (once, until the dataset changes) and its
// layers as configured, keeps the study area and the settings, and carries
// the running analysis's properties between the wizard's steps.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/framework/DataManager.h"
#include "host/framework/DatasetConfig.h"
#include "host/framework/PropertySet.h"
#include "host/gis/Cursor.h"
#include "host/gis/Field.h"
#include "host/gis/Geometry.h"
#include "host/gis/Map.h"
#include "host/gis/SpatialReference.h"
#include "host/gis/Table.h"
#include "host/gis/Workspace.h"

namespace host {

// The data workspace of the current dataset.
class DataWorkspace : public Object {
public:
    // layers: the dataset's layers, whose own sources and coordinate
    // systems take precedence over the workspace.
    explicit DataWorkspace(gis::WorkspacePtr ws, std::vector<DatasetLayerPtr> layers = {})
        : ws_(std::move(ws)), layers_(std::move(layers)) {}
    std::string TypeName() const override { return "DataWorkspace"; }
    gis::FeatureClassPtr OpenFeatureClass(const std::string& name);
    // Search of a dataset with a where-clause within a geometry (intersects).
    gis::CursorPtr Search(const std::string& datasetName, const std::string& whereClause,
                          const std::string& businessDatasetName, const gis::GeometryPtr& geometry);
    const gis::WorkspacePtr& Workspace() const { return ws_; }

    // Opens a dataset layer as configured: its source or the workspace's
    // dataset, with its assigned coordinate system.
    static gis::FeatureClassPtr OpenLayer(const DatasetLayer& layer, const gis::WorkspacePtr& ws);

private:
    gis::WorkspacePtr ws_;
    std::vector<DatasetLayerPtr> layers_;
    std::map<std::string, gis::FeatureClassPtr> open_;
};
using DataWorkspacePtr = std::shared_ptr<DataWorkspace>;

// Per demographic layer: spatial reference, fields, shape field and class.
class DataQuery : public Object {
public:
    std::string TypeName() const override { return "DataQuery"; }
    DatasetLayerPtr layer;
    gis::FeatureClassPtr featureClass;
    gis::SpatialReferencePtr SpatialReference() const { return featureClass->GetSpatialReference(); }
    gis::FieldsPtr Fields() const { return featureClass->GetFields(); }
    std::string ShapeField() const { return featureClass->ShapeFieldName(); }
};
using DataQueryPtr = std::shared_ptr<DataQuery>;

class Extension : public Object {
public:
    Extension(DataManagerPtr dm, HostConfiguration config);
    std::string TypeName() const override { return "PXExtension"; }

    DataManagerPtr GetDataManager() const { return dm_; }
    std::string CurrentDatasetName() const { return config_.currentDataset; }
    void SetCurrentDatasetName(const std::string& n) { config_.currentDataset = n; }
    // The study area of the analysis, or null for the whole dataset.
    gis::GeometryPtr BoundingGeometry() const { return bounding_; }
    void SetBoundingGeometry(gis::GeometryPtr g) { bounding_ = std::move(g); }
    // Raises when the current dataset's data cannot be opened.
    DataWorkspacePtr GetDataWorkspace();
    DataQueryPtr GetDataQuery(const std::string& layerName);
    std::string Setting(const std::string& name) const;
    void SetSetting(const std::string& name, const std::string& value) { config_.settings[name] = value; }
    // Properties kept for the running analysis.
    PropertySetPtr RunningAnalysisProperties() const { return running_; }
    const HostConfiguration& Configuration() const { return config_; }

private:
    DataManagerPtr dm_;
    HostConfiguration config_;
    gis::GeometryPtr bounding_;
    DataWorkspacePtr dataWs_;
    std::string dataWsDataset_;
    PropertySetPtr running_ = std::make_shared<PropertySet>();
};
using ExtensionPtr = std::shared_ptr<Extension>;

// The host's extension found through the application, as the library does.
ExtensionPtr FindExtension(const gis::ApplicationPtr& app);

}  // namespace host
