#include "PXAnalysis/WorkspaceUtils.h"

#include <filesystem>

#include "PXCP/PXAnalysisUtils.h"
#include "host/framework/ErrorHandler.h"
#include "host/gis/PgConnection.h"

namespace fs = std::filesystem;

namespace pxcp {

using namespace host;

namespace {
const host::ErrorLocation Loc("PXAnalysis\\WorkspaceUtils.bas");
}  // namespace

gis::WorkspacePtr OpenAnalysisWorkspace(const FileInfoPtr& info, const gis::ApplicationPtr& application) {
    auto eh = NewErrorHandler();
    gis::WorkspacePtr ws;
    PX_TRY
    auto ext = GetPXExtension(application);
    std::string format = ext ? ext->Setting("Data Format") : "";
    if (format == "Personal Geodatabase") {
        auto created = gis::Workspace::CreateGeoPackage(info->Folder(), info->FileName());
        ws = gis::Workspace::OpenGeoPackage(created->PathName());
    } else if (format == "PostGIS") {
        // One table per analysis output, named after the analysis folder, in
        // the database of the dataset and the schema the settings choose.
        auto dataset = GetCurrentDataset(application);
        if (!dataset || !gis::PgConnection::IsConnectionString(dataset->dataPath))
            Raise(kErrInvalidCall, "The Data Format PostGIS writes analyses into the database of the dataset, and the dataset " +
                                       (dataset ? dataset->name : std::string()) + " is not in a database");
        auto connection = gis::PgConnection::Parse(dataset->dataPath);
        std::string schema = ext->Setting("Output Schema");
        if (!schema.empty()) connection = connection.InSchema(schema);
        std::string analysis = fs::path(info->Folder()).parent_path().filename().string();
        ws = gis::Workspace::OpenPostGIS(connection.ToString(), analysis + "_");
    } else {
        ws = gis::Workspace::OpenFolder(info->Folder());
    }
    PX_CATCH(eh, Loc("OpenAnalysisWorkspace"))
    return ws;
}

gis::FeatureLayerPtr OpenLayerFile(const std::string& path) {
    auto eh = NewErrorHandler();
    gis::FeatureLayerPtr layer;
    PX_TRY
    // A layer file names a feature class: a file of any vector format, or a
    // layer of a multi-layer file as "db.gpkg|name".
    auto fc = gis::OpenLayerSource(gis::LayerSource::Parse(path));
    if (!fc || !fc->HasShape()) return nullptr;
    layer = std::make_shared<gis::FeatureLayer>();
    layer->featureClass = fc;
    layer->name = fc->Name();
    PX_CATCH(eh, Loc("OpenLayerFile"))
    return layer;
}

gis::GroupLayerPtr FindGroupLayer(const gis::Map& map, const std::string& name) {
    for (auto& l : map.layers)
        if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(l); g && g->name == name) return g;
    return nullptr;
}

bool RemoveDatasetLayers(const gis::FeatureLayer& layer, const gis::ApplicationPtr& application) {
    auto eh = NewErrorHandler();
    bool ok = false;
    PX_TRY
    auto map = application->FocusMap();
    if (!map || !layer.featureClass) return false;
    auto same = [&](const gis::FeatureLayer& other) {
        if (!other.featureClass) return false;
        auto a = other.featureClass->GetWorkspace(), b = layer.featureClass->GetWorkspace();
        if (!a || !b) return false;
        return fs::absolute(a->PathName()) == fs::absolute(b->PathName()) &&
               other.featureClass->Name() == layer.featureClass->Name();
    };
    for (auto& l : map->AllLayers())
        if (auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l); fl && same(*fl)) map->DeleteLayer(l);
    ok = true;
    PX_CATCH(eh, Loc("RemoveDatasetLayers"))
    return ok;
}

bool DeleteAnalysisOutput(const std::string& outputPath, const gis::ApplicationPtr& application) {
    auto eh = NewErrorHandler();
    bool ok = false;
    PX_TRY
    auto info = CreateObjectAs<FileInfo>("PXDM.PXFileInfo");
    info->SetPath(outputPath);
    auto ws = OpenAnalysisWorkspace(info, application);
    if (!ws) return false;
    std::string name = info->FileName();
    if (ws->DatasetExists(name)) {
        gis::FeatureLayer probe;
        probe.featureClass = ws->OpenFeatureClass(name);
        RemoveDatasetLayers(probe, application);
        probe.featureClass->Close();
        // A table in a database stays until the new output, complete, takes
        // its place in one transaction.
        if (ws->Kind() != gis::WorkspaceKind::PostGIS) ws->DeleteDataset(name);
    }
    if (ws->Kind() == gis::WorkspaceKind::Folder && ws->DatasetExists(name + "_tmp")) ws->DeleteDataset(name + "_tmp");
    ok = true;
    PX_CATCH(eh, Loc("DeleteAnalysisOutput"))
    return ok;
}

}  // namespace pxcp
