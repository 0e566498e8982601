// Analyses and the data manager that keeps them. An analysis is a folder
// under the analyses root holding its properties and the result layers it
// registered; the data manager lists, creates and removes them by name
// (without regard to case). An analysis is complete once its output is
// registered: one a killed run left unfinished is removed, and one it was
// replacing put back, the next time the analyses are read. FileInfo and
// AnalysisNameChecker are the small helpers the pages use with it.
//
// Several processes may share one analyses folder (analysts on a shared
// drive, scripts run side by side, the desktop beside the command line).
// Whoever makes, replaces or removes an analysis holds its name first
// (NameLock): one run at a time per name, in every process, and a killed
// run lets go. What another run left unfinished is only tidied away by one
// that holds its name.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/framework/NameLock.h"
#include "host/framework/DatasetConfig.h"
#include "host/framework/PropertySet.h"
#include "host/framework/Task.h"

namespace host {

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
    // Registers a result layer; the analysis is complete from then on.
    void AddLayer(const std::string& path);
    // Lists a layer the run has made before the analysis is complete, so
    // that a run that never finishes leaves nothing behind.
    void ExpectLayer(const std::string& path);
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
    ~DataManager() override;
    std::string TypeName() const override { return "PXDataManager"; }

    long DatasetCount() const { return static_cast<long>(datasets_.size()); }
    DatasetPtr GetDataset(long index0) const;
    // A path stem for scratch files of the running wizard.
    std::string WorkingPath() const;
    const std::string& AnalysesRoot() const { return root_; }

    bool AnalysisExists(const std::string& name) const;
    AnalysisPtr GetAnalysis(const std::string& name) const;  // null when missing
    // Makes the analysis in a folder of its own; holds its name (see
    // HoldName) when it does not yet. Raises when the name is taken, or
    // held by another run.
    AnalysisPtr CreateAnalysis(const std::string& name);
    // Removes the analysis's folder and its tables in a database; false
    // (and nothing removed) while a table cannot be dropped, or while
    // another run holds its name.
    bool RemoveAnalysis(const std::string& name);

    // Holding a name: the run that holds it is the only one that makes,
    // replaces or removes an analysis of that name, among all processes
    // sharing the folder. A name is held until ReleaseName, EndRun or the
    // end of the data manager (or of the process). On taking it, the
    // analyses are read again, so that the holder sees what others did.
    // TryHoldName is false while another run holds the name; HoldName
    // waits its turn. Holding a name held already does nothing.
    bool TryHoldName(const std::string& name);
    void HoldName(const std::string& name);
    bool HoldsName(const std::string& name) const;
    void ReleaseName(const std::string& name);
    // Ends what the run began: every replacement (EndReplacement, the new
    // analysis kept when keepNew), every analysis it created is removed
    // again unless keepNew, and every name it holds is let go.
    void EndRun(bool keepNew);
    // Reads the analyses folder again: analyses other processes added or
    // removed appear or go.
    void Reread() { Scan(); }
    // Replacing an analysis safely: SetAside keeps a copy of it (returns
    // where; empty when there is no such analysis) before the run that
    // replaces it, and of its tables in a database; EndReplacement drops
    // the copies when the new analysis is complete (keepNew), or puts the
    // old one back in place of whatever the run left. A copy left by a run
    // that was killed is put back the next time the analyses are read, as
    // are analyses it never finished removed. SetAside holds the name as
    // CreateAnalysis does.
    std::string SetAside(const std::string& name);
    void EndReplacement(const std::string& aside, bool keepNew);
    std::vector<std::string> AnalysisNames() const;
    void Refresh() { ++refreshCount; }
    long refreshCount = 0;

private:
    void Scan();
    // The analysis kept in a folder; null when it holds none.
    static AnalysisPtr ReadAnalysis(const std::string& folder);
    // Ends a replacement kept aside by a run that is over: its new analysis
    // stays when it is whole, else the old one comes back. False (and the
    // copy kept) while the database cannot do its part.
    bool SettleAside(const std::string& aside);
    // The name held for the caller (raises when another run holds it).
    void NeedName(const std::string& name);
    // Whether a run may still be at work on the analysis of this name,
    // given the process a marker it left names: a run of this process, or
    // one of any process that holds the name. lock receives the name when
    // no run is (and the leftovers may be tidied away under it).
    bool AtWork(const std::string& name, long pid, std::unique_ptr<NameLock>& lock) const;
    std::vector<DatasetPtr> datasets_;
    std::string root_;
    std::map<std::string, AnalysisPtr> analyses_;  // by upper-case name
    std::map<std::string, std::string> replacing_;  // aside → upper-case name, while replaced
    std::map<std::string, std::unique_ptr<NameLock>> held_;  // by upper-case name
    std::set<std::string> made_;  // upper-case names of analyses created since the last EndRun
};

// What a run is told when another holds the name it wants.
std::string NameHeldText(const std::string& name);

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

}  // namespace host
