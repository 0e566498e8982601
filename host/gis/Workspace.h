// Where datasets live: a folder of shapefiles and dBASE tables, a
// single-file GeoPackage database, any other vector file GDAL reads
// (read-only; its datasets are the file's layers), or a schema of a
// PostGIS database (its datasets are tables). A Workspace opens, lists,
// creates and deletes its datasets by name and raises, naming the dataset
// and the workspace, when it cannot. Workspaces on the same GeoPackage
// share one connection.
//
// A dataset created in a database is written in a transaction of its own
// under a temporary name: nobody sees it, nor a half of it, until
// CommitDataset puts it in place of any table of its name, in one
// transaction. One that is never committed leaves nothing behind.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/gis/Field.h"
#include "host/gis/Geometry.h"
#include "host/gis/Table.h"

class GDALDataset;
class OGRLayer;

namespace host::gis {

enum class WorkspaceKind { Folder, GeoPackage, File, PostGIS };

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
    // The tables of a schema of a PostGIS database ("PG:..." as PgConnection
    // reads it). Raises with one line naming the database and the server's
    // reason when it cannot be reached or refuses the login. With a table
    // prefix, the workspace holds the tables whose names start with it: the
    // dataset "Result" of the prefix "Sales_2024_" is the table
    // "sales_2024_result", in lower case as database users expect.
    static std::shared_ptr<Workspace> OpenPostGIS(const std::string& connection, const std::string& tablePrefix = "");
    // The data of a dataset: a database connection, a GeoPackage file or a
    // folder of shapefiles.
    static std::shared_ptr<Workspace> OpenData(const std::string& path);
    ~Workspace() override;

    WorkspaceKind Kind() const { return kind_; }
    // The folder or file; for a database its connection ("PG:...").
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
    // Puts a dataset created in a database in place (see above); nothing to
    // do in the other kinds, which write at once.
    void CommitDataset(const std::string& name);

    // Database workspaces only: the table of a dataset, and its name as SQL
    // writes it ("schema"."table").
    std::string TableName(const std::string& name) const;
    std::string SqlName(const std::string& table) const;
    // An SQL condition that holds for the rows of a table whose shapes meet
    // the geometry (given in the table's coordinate system); the database
    // answers it through its spatial index.
    std::string IntersectsCondition(const std::string& table, const std::string& shapeColumn, const Geometry& geometry) const;
    // A table kept while a run replaces it: CopyName chooses a name no
    // other table has, CopyTable copies the table (rows and indexes) under
    // it, PutTableBack puts the copy in the table's place, in one
    // transaction. Names as TableName gives them.
    std::string CopyName(const std::string& table) const;
    void CopyTable(const std::string& table, const std::string& copy);
    void PutTableBack(const std::string& copy, const std::string& table);

private:
    WorkspaceKind kind_ = WorkspaceKind::Folder;
    std::string path_;
    std::shared_ptr<GDALDataset> db_;  // GeoPackage connection
    TablePtr OpenAny(const std::string& name, bool needShape);
    // Database workspaces.
    std::string prefix_;
    std::string Describe() const;
    struct Pending {
        std::shared_ptr<GDALDataset> connection;  // in its transaction
        OGRLayer* layer;
        std::string temporaryName;
    };
    std::map<std::string, Pending> pending_;  // by table name
    FeatureClassPtr CreatePgFeatureClass(const std::string& name, const Fields& fields, const std::string& shapeField);
    // Within the connection's transaction: the table "from" takes the place
    // (and name) of the table, which is dropped if there is one.
    void MoveTable(GDALDataset& connection, const std::string& from, const std::string& table) const;
    // A connection of its own to the database, in a transaction.
    std::shared_ptr<GDALDataset> ConnectInTransaction() const;
};
using WorkspacePtr = std::shared_ptr<Workspace>;

}  // namespace host::gis
