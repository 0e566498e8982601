// The dataset configuration of the host, read from its XML file: the
// datasets, each with its data (a folder of shapefiles, a GeoPackage or a
// schema of a PostGIS database),
// its layers and its task entries; a task entry nests sub-entries and
// carries the categories and targets its pages offer. Loading checks the
// file's shape and raises with a message naming the file; relative paths
// are taken from the file's folder, so a loaded configuration holds only
// absolute ones.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Object.h"

namespace pugi {
class xml_node;
}

namespace host {

class TargetDef : public Object {
public:
    std::string TypeName() const override { return "Target"; }
    std::string name;
    std::string caption;
    std::map<std::string, std::string> properties;     // "CanPercent", ...
    std::map<std::string, std::string> numberFields;   // year key "1".. -> field
    std::map<std::string, std::string> percentFields;  // year key -> base field
    std::string Property(const std::string& key) const;
};
using TargetDefPtr = std::shared_ptr<TargetDef>;

class CategoryDef : public Object {
public:
    std::string TypeName() const override { return "Category"; }
    std::string id;
    std::string caption;
    std::map<std::string, std::string> properties;  // "IsProfiled", ...
    std::string Property(const std::string& key) const;
    std::vector<TargetDefPtr> targets;
    long TargetCount() const { return static_cast<long>(targets.size()); }
    TargetDefPtr Target(long index0) const;
    TargetDefPtr TargetByName(const std::string& name) const;  // null when missing
};
using CategoryDefPtr = std::shared_ptr<CategoryDef>;

class TaskEntry : public Object {
public:
    std::string TypeName() const override { return "TaskEntry"; }
    std::string name;
    std::string caption;
    std::string typeText;
    std::string levelName;                         // geography level of a level entry
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<std::shared_ptr<TaskEntry>> subEntries;
    StringListPtr additionalFields = std::make_shared<StringList>();
    StringListPtr years = std::make_shared<StringList>();
    std::vector<CategoryDefPtr> categories;

    // Empty when missing.
    std::string Param(const std::string& key) const;
    bool HasParam(const std::string& key) const;
    long SubEntryCount() const { return static_cast<long>(subEntries.size()); }
    std::shared_ptr<TaskEntry> SubEntry(long index0) const;
    long CategoryCount() const { return static_cast<long>(categories.size()); }
    CategoryDefPtr Category(long index0) const;
    CategoryDefPtr CategoryById(const std::string& id) const;  // null when missing
};
using TaskEntryPtr = std::shared_ptr<TaskEntry>;

class DatasetLayer : public Object {
public:
    std::string TypeName() const override { return "DatasetLayer"; }
    std::string name;         // name in the configuration ("Counties")
    std::string datasetName;  // feature class in the data workspace
    std::string caption;
    std::string idField;      // key field of the areas
    std::string descField;    // name field of the areas
    // A layer kept outside the data workspace: a file any vector format
    // ("PATH" or "PATH|LAYER"), absolute once loaded. Empty: datasetName
    // in the data workspace.
    std::string source;
    // Coordinate system given to a layer whose file has none ("EPSG:N").
    std::string srs;
};
using DatasetLayerPtr = std::shared_ptr<DatasetLayer>;

class Dataset : public Object {
public:
    std::string TypeName() const override { return "Dataset"; }
    std::string name;
    // Folder of shapefiles, GeoPackage file, or database connection ("PG:...").
    std::string dataPath;
    std::vector<DatasetLayerPtr> layers;
    std::vector<TaskEntryPtr> tasks;
    DatasetLayerPtr LayerByName(const std::string& n) const;  // null when missing
    long TaskCount() const { return static_cast<long>(tasks.size()); }
    TaskEntryPtr Task(long index0) const;
};
using DatasetPtr = std::shared_ptr<Dataset>;

// The configuration file of the host: datasets, the current one, and the
// extension's settings.
struct HostConfiguration {
    std::vector<DatasetPtr> datasets;
    std::string currentDataset;
    std::map<std::string, std::string> settings;
    std::string basemapLayer;   // dataset layer drawn under the results
    std::string sourcePath;
};
// Where a Dataset element's data is: its data attribute (a folder or a
// GeoPackage, relative to baseFolder, or a "PG:" connection), or the
// database its attributes host, port, database, schema and user name.
// Raises when both are given, or a connection is malformed or holds a
// password.
struct DataAttributes {
    std::string data, host, port, database, schema, user;
    static DataAttributes Of(const pugi::xml_node& dataset);
    bool NamesDatabase() const;
};
std::string ResolveDataPath(const DataAttributes& attributes, const std::string& baseFolder);
// A layer's source with its file made absolute from baseFolder; a table
// of a database ("PG:...|TABLE") as given.
std::string ResolveLayerSource(const std::string& source, const std::string& baseFolder);

// Reads a dataset configuration; raises with a clear message when the file
// is missing or malformed. Relative data paths are taken from the file's folder.
HostConfiguration LoadHostConfiguration(const std::string& path);

}  // namespace host
