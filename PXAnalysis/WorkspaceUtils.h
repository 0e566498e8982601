// Workspaces, layer files and group layers for the sub-tasks.
#pragma once

#include <string>

#include "host/framework/Framework.h"

namespace pxcp {

// The workspace an analysis writes into: a GeoPackage named after the
// output when the extension's "Data Format" asks for a personal
// geodatabase; with "PostGIS", the tables of the analysis (named after its
// folder) in the dataset's database, in the schema of the setting "Output
// Schema" or else the dataset's; otherwise the analysis folder as a
// shapefile workspace.
host::gis::WorkspacePtr OpenAnalysisWorkspace(const host::FileInfoPtr& info, const host::gis::ApplicationPtr& application);
host::gis::FeatureLayerPtr OpenLayerFile(const std::string& path);
host::gis::GroupLayerPtr FindGroupLayer(const host::gis::Map& map, const std::string& name);
bool RemoveDatasetLayers(const host::gis::FeatureLayer& layer, const host::gis::ApplicationPtr& application);
// Releases an analysis output: removes its layers from the map and deletes
// the feature class; in a folder workspace the joined scratch table made
// from it ("<name>_tmp") goes too. A table in a database is left for the
// new output to replace when it is complete.
bool DeleteAnalysisOutput(const std::string& outputPath, const host::gis::ApplicationPtr& application);

}  // namespace pxcp
