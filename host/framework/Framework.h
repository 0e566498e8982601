// The host business-analysis framework: task and function interfaces,
// property sets, the dataset configuration (datasets, dataset layers, task
// entries with their target catalogues), the data manager that keeps
// analyses as folders, the extension, the function runner, the file
// information object and the analysis-name checker.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/gis/Gis.h"
#include "host/gis/Map.h"

namespace host {

class DataManager;
using DataManagerPtr = std::shared_ptr<DataManager>;

// ---------------- task and function interfaces ----------------

class IPXFunction : public Object {
public:
    virtual bool Start() = 0;
    virtual bool DoStep() = 0;
    virtual long LastError() = 0;
    virtual long Status() = 0;
    virtual void Cleanup() = 0;
    virtual bool Init() = 0;
    virtual bool SetResultParam(const std::string& name, Variant& value) = 0;
    virtual bool SetParam(const std::string& name, Variant& value) = 0;
};
using IPXFunctionPtr = std::shared_ptr<IPXFunction>;

class IPXTask : public Object {
public:
    virtual long LastError() = 0;
    virtual long Status() = 0;
    virtual ObjectPtr PXParamSelector() = 0;
    virtual IPXFunctionPtr PXFunction() = 0;
    virtual void Cleanup() = 0;
    virtual void Break() = 0;
    virtual bool StartFunction() = 0;
    virtual long DoParamSelector() = 0;
    virtual bool InitFunction() = 0;
    virtual bool InitParamSelector() = 0;
    virtual bool Init(DataManagerPtr dataManager, gis::ApplicationPtr application) = 0;
    virtual bool SetParam(const std::string& name, Variant& value) = 0;
};
using IPXTaskPtr = std::shared_ptr<IPXTask>;

class IPXCustDataContainer : public Object {
public:
    virtual void Shutdown() = 0;
};

// ---------------- property set ----------------

class PropertySet : public Object {
public:
    std::string TypeName() const override { return "PropertySet"; }
    long Count() const { return static_cast<long>(items_.size()); }
    // Empty when the name is missing. Names are compared exactly.
    Variant GetProperty(const std::string& name) const;
    bool HasProperty(const std::string& name) const;
    void SetProperty(const std::string& name, Variant value);
    void RemoveProperty(const std::string& name);
    void GetAllProperties(std::vector<std::string>& names, std::vector<Variant>& values) const;
    // Stored as XML (analysis folders keep their properties this way).
    std::string ToXml() const;
    void FromXml(const std::string& xml);

private:
    std::vector<std::pair<std::string, Variant>> items_;
};
using PropertySetPtr = std::shared_ptr<PropertySet>;

// ---------------- dataset configuration ----------------

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
    std::string dataPath;  // folder of shapefiles or a GeoPackage file
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
// Reads a dataset configuration; raises with a clear message when the file
// is missing or malformed. Relative data paths are taken from the file's folder.
HostConfiguration LoadHostConfiguration(const std::string& path);

// ---------------- analyses and the data manager ----------------

class Analysis : public Object {
public:
    std::string TypeName() const override { return "Analysis"; }
    std::string Name() const { return name_; }
    // The analysis folder, with a trailing separator.
    std::string Folder() const { return folder_; }
    // Where the analysis writes its output feature class (folder + name).
    std::string OutputPath() const { return folder_ + "Result"; }
    PropertySetPtr Properties() const { return properties_; }
    void SetProperties(PropertySetPtr p);
    void SetProperty(const std::string& name, Variant v);
    Variant GetProperty(const std::string& name) const;
    // Result layers registered with the analysis (paths of feature classes).
    const std::vector<std::string>& Layers() const { return layers_; }
    void AddLayer(const std::string& path);
    void Save() const;

private:
    friend class DataManager;
    std::string name_;
    std::string folder_;
    PropertySetPtr properties_ = std::make_shared<PropertySet>();
    std::vector<std::string> layers_;
};
using AnalysisPtr = std::shared_ptr<Analysis>;

class DataManager : public Object {
public:
    // root: folder that holds one sub-folder per analysis.
    DataManager(std::vector<DatasetPtr> datasets, std::string analysesRoot);
    std::string TypeName() const override { return "PXDataManager"; }

    long DatasetCount() const { return static_cast<long>(datasets_.size()); }
    DatasetPtr GetDataset(long index0) const;
    // A path stem for scratch files of the running wizard.
    std::string WorkingPath() const;
    const std::string& AnalysesRoot() const { return root_; }

    bool AnalysisExists(const std::string& name) const;
    AnalysisPtr GetAnalysis(const std::string& name) const;  // null when missing
    AnalysisPtr CreateAnalysis(const std::string& name);
    bool RemoveAnalysis(const std::string& name);
    // Replacing an analysis safely: SetAside keeps a copy of it (returns
    // where; empty when there is no such analysis) before the run that
    // replaces it; EndReplacement drops the copy when the new analysis is
    // complete (keepNew), or puts the old one back in place of whatever the
    // run left. A copy left by a run that was killed is put back the next
    // time the analyses are read, as are analyses it never finished removed.
    std::string SetAside(const std::string& name);
    void EndReplacement(const std::string& aside, bool keepNew);
    std::vector<std::string> AnalysisNames() const;
    void Refresh() { ++refreshCount; }
    long refreshCount = 0;

private:
    void Scan();
    std::vector<DatasetPtr> datasets_;
    std::string root_;
    std::map<std::string, AnalysisPtr> analyses_;  // by upper-case name
};

// "PXDM.PXFileInfo": splits a path into folder (with separator) and name.
class FileInfo : public Object {
public:
    std::string TypeName() const override { return "PXFileInfo"; }
    void SetPath(const std::string& path);
    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }
    const std::string& FileName() const { return name_; }

private:
    std::string path_, folder_, name_;
};
using FileInfoPtr = std::shared_ptr<FileInfo>;

// "PXDM.PXAnalysisNameChecker": 0 when the name may be used.
class AnalysisNameChecker : public Object {
public:
    std::string TypeName() const override { return "PXAnalysisNameChecker"; }
    long CheckName(std::string& name) const;
};

// ---------------- extension ----------------

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

// ---------------- function runner ----------------

// What the analyst sees of a running function.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void Begin(const std::string& animation, const std::string& caption, const std::string& message) = 0;
    // fraction < 0: no measure, just alive.
    virtual void Step(double fraction, const std::string& message) = 0;
    virtual void End(long code) = 0;
    virtual bool CancelRequested() = 0;
};

// Runs a function: Start, then DoStep while it returns True.
// Completion codes: 2 completed, 3 cancelled by the analyst, 4 failed.
class FunctionRunner : public Object {
public:
    static constexpr long kCompleted = 2;
    static constexpr long kCancelled = 3;
    static constexpr long kFailed = 4;
    std::string TypeName() const override { return "PXFunctionRunner"; }
    long Run(IPXFunction& function, const std::string& animation, const std::string& caption, const std::string& message);
    // Workers may tell how far they are.
    static void ReportProgress(double fraction, const std::string& message = "");

    // The completion code of the last run (0 before any).
    static long LastCode();
    // Ctrl+C (or SIGTERM) arrived during the current run; safe from any thread.
    static bool Interrupted();
    static void SetSink(std::shared_ptr<ProgressSink> sink);
    static ProgressSink* Sink();
};

// A progress sink for terminals: a bar on stderr while the work runs, when
// stderr is a terminal and draw is set; Ctrl+C cancels.
std::shared_ptr<ProgressSink> MakeTerminalProgress(bool draw = true);
// A silent sink; cancels after the given number of steps when >= 0.
std::shared_ptr<ProgressSink> MakeSilentProgress(long cancelAfterSteps = -1);

// Registers the host classes under their ProgIDs.
void RegisterHostClasses();

// The host's extension, data manager and application found through the
// application, as the library does.
ExtensionPtr FindExtension(const gis::ApplicationPtr& app);

}  // namespace host
