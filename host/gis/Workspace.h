// Where datasets live: a folder of shapefiles and dBASE tables, a
// single-file GeoPackage database, or any other vector file GDAL reads
// (read-only; its datasets are the file's layers). A Workspace opens,
// lists, creates and deletes its datasets by name and raises, naming the
// dataset and the workspace, when it cannot. Workspaces on the same
// GeoPackage share one connection.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/gis/Field.h"
#include "host/gis/Table.h"

class GDALDataset;

namespace host::gis {

enum class WorkspaceKind { Folder, GeoPackage, File };

class Workspace : public Object {
public:
    std::string TypeName() const override { return "Workspace"; }
    // A folder of shapefiles and dBASE tables; raises when there is no such folder.
    static std::shared_ptr<Workspace> OpenFolder(const std::string& folder);
    // A single-file database; CreateGeoPackage makes the file when missing.
    static std::shared_ptr<Workspace> CreateGeoPackage(const std::string& folder, const std::string& name);
    static std::shared_ptr<Workspace> OpenGeoPackage(const std::string& path);
    // Any other vector file GDAL reads (GeoJSON, FlatGeobuf, ...), read-only;
    // its datasets are the file's layers.
    static std::shared_ptr<Workspace> OpenFile(const std::string& path);

    WorkspaceKind Kind() const { return kind_; }
    const std::string& PathName() const { return path_; }

    bool DatasetExists(const std::string& name) const;
    std::vector<std::string> DatasetNames() const;
    FeatureClassPtr OpenFeatureClass(const std::string& name);
    TablePtr OpenTable(const std::string& name);
    // fields: the host field list in order; the object-id field (type 6) is
    // taken as the database's own; the geometry field gives shape type and
    // spatial reference.
    FeatureClassPtr CreateFeatureClass(const std::string& name, const Fields& fields, const std::string& shapeField);
    TablePtr CreateTable(const std::string& name, const Fields& fields);
    void DeleteDataset(const std::string& name);

private:
    WorkspaceKind kind_ = WorkspaceKind::Folder;
    std::string path_;
    std::shared_ptr<GDALDataset> db_;  // GeoPackage connection
    TablePtr OpenAny(const std::string& name, bool needShape);
};
using WorkspacePtr = std::shared_ptr<Workspace>;

}  // namespace host::gis
