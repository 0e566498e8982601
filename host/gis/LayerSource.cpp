#include "host/gis/LayerSource.h"

#include <filesystem>

#include "host/gis/Gdal.h"
#include "host/gis/PgConnection.h"
#include "host/gis/Workspace.h"

namespace fs = std::filesystem;

namespace host::gis {

LayerSource LayerSource::Parse(const std::string& spec) {
    LayerSource s;
    auto bar = spec.rfind('|');
    s.file = bar == std::string::npos ? spec : spec.substr(0, bar);
    if (bar != std::string::npos) s.layer = spec.substr(bar + 1);
    return s;
}

TablePtr OpenLayerSource(const LayerSource& source) {
    EnsureGdal();
    if (PgConnection::IsConnectionString(source.file)) {
        if (source.layer.empty())
            Raise(kErrInvalidCall, "Name the table of the database as " + source.file + "|TABLE", "PXGIS");
        return Workspace::OpenPostGIS(source.file)->OpenTable(source.layer);
    }
    fs::path p(source.file);
    if (source.file.empty()) Raise(kErrFileNotFound, "No layer file was given", "PXGIS");
    if (!fs::exists(p)) Raise(kErrFileNotFound, "The layer file " + source.file + " does not exist", "PXGIS");
    if (fs::is_directory(p)) Raise(kErrFileNotFound, source.file + " is a folder, not a layer file", "PXGIS");
    if (!fs::is_regular_file(p)) Raise(kErrFileNotFound, source.file + " is not a regular file", "PXGIS");
    std::string ext = LCase(p.extension().string());
    if (ext == ".shp" || ext == ".dbf") {
        auto ws = Workspace::OpenFolder(p.parent_path().empty() ? "." : p.parent_path().string());
        return ext == ".shp" ? ws->OpenFeatureClass(p.stem().string()) : ws->OpenTable(p.stem().string());
    }
    WorkspacePtr ws = ext == ".gpkg" ? Workspace::OpenGeoPackage(source.file) : Workspace::OpenFile(source.file);
    std::string name = source.layer;
    if (name.empty()) {
        auto names = ws->DatasetNames();
        if (names.size() != 1) {
            std::string list;
            for (auto& n : names) list += (list.empty() ? "" : ", ") + n;
            Raise(kErrInvalidCall, source.file + " holds " + std::to_string(names.size()) +
                                       " layers; name one as " + source.file + "|LAYER (" + list + ")",
                  "PXGIS");
        }
        name = names.front();
    }
    if (!ws->DatasetExists(name)) Raise(kErrInvalidCall, "No layer " + name + " in " + source.file, "PXGIS");
    return ws->OpenTable(name);
}

}  // namespace host::gis
