#include "host/framework/DataManager.h"

#include <pugixml.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "host/gis/LayerSource.h"
#include "host/gis/PgConnection.h"
#include "host/gis/Workspace.h"
#include "host/platform/TextFile.h"

namespace fs = std::filesystem;

namespace host {

void Analysis::SetProperties(PropertySetPtr p) {
    // An analysis keeps the properties it was given, not a view of the
    // caller's set: page settings that a later run changes are not its own.
    properties_ = p ? std::make_shared<PropertySet>(*p) : std::make_shared<PropertySet>();
    Save();
}

void Analysis::SetProperty(const std::string& name, Variant v) {
    properties_->SetProperty(name, std::move(v));
    Save();
}

Variant Analysis::GetProperty(const std::string& name) const { return properties_->GetProperty(name); }

void Analysis::ExpectLayer(const std::string& path) {
    if (std::find(layers_.begin(), layers_.end(), path) != layers_.end()) return;
    layers_.push_back(path);
    Save();
}

void Analysis::AddLayer(const std::string& path) {
    ExpectLayer(path);
    // With its output registered the analysis is complete.
    std::error_code ec;
    fs::remove(fs::path(folder_) / ".incomplete", ec);
}

void Analysis::Save() const {
    pugi::xml_document doc;
    auto root = doc.append_child("Analysis");
    root.append_attribute("name") = name_.c_str();
    pugi::xml_document props;
    props.load_string(properties_->ToXml().c_str());
    // The service password lives in the credential store only; the page
    // settings that become an analysis's properties may still carry it.
    for (auto p = props.document_element().first_child(); p;) {
        auto next = p.next_sibling();
        if (std::string(p.attribute("name").as_string()) == "Password") props.document_element().remove_child(p);
        p = next;
    }
    root.append_copy(props.document_element());
    for (auto& l : layers_) root.append_child("Layer").append_attribute("path") = l.c_str();
    std::ostringstream text;
    doc.save(text);
    if (!platform::WriteFileAtomically(folder_ + "analysis.xml", text.str())) {
        int why = errno;
        Raise(kErrPathNotFound, "The analysis " + name_ + " could not be saved in " + folder_ +
                                    (why ? std::string(": ") + std::strerror(why) : std::string()));
    }
}

DataManager::DataManager(std::vector<DatasetPtr> datasets, std::string analysesRoot)
    : datasets_(std::move(datasets)), root_(std::move(analysesRoot)) {
    fs::create_directories(root_);
    root_ = fs::absolute(root_).lexically_normal().string();
    if (root_.back() != '/') root_ += '/';
    Scan();
}

DataManager::~DataManager() = default;

namespace {

// An analysis folder holds this file from its creation until its output is
// registered; it names the process that makes it.
const char* kIncomplete = ".incomplete";

// Process numbers in markers and folder names, written and read alike
// whatever the locale.
std::string Digits(long n) {
    char buf[24];
    auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
    return std::string(buf, end);
}

std::string PidText() { return Digits(getpid()); }

long ParsePid(const std::string& text) {
    long pid = 0;
    std::from_chars(text.data(), text.data() + text.size(), pid);
    return pid;
}

long MarkerPid(const fs::path& marker) {
    std::ifstream in(marker);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParsePid(text);
}

void WriteMarker(const fs::path& folder) { std::ofstream(folder / kIncomplete) << PidText() << "\n"; }

// What a save that was cut short leaves beside analysis.xml; one younger
// than this may be another process's save under way.
const char* kSavePrefix = ".analysis.xml.";
constexpr auto kSaveLeftoverAge = std::chrono::minutes(1);

// The layers of an analysis that are tables in a database, as their
// sources name them ("PG:...|schema.table").
std::vector<gis::LayerSource> DatabaseTables(const std::vector<std::string>& layers) {
    std::vector<gis::LayerSource> tables;
    for (auto& path : layers) {
        auto source = gis::LayerSource::Parse(path);
        if (gis::PgConnection::IsConnectionString(source.file)) tables.push_back(source);
    }
    return tables;
}

// Drops the analysis's tables in a database; false when one cannot be
// dropped (the database is away, or refuses).
bool DropDatabaseTables(const Analysis& analysis) {
    try {
        for (auto& table : DatabaseTables(analysis.Layers())) {
            auto ws = gis::Workspace::OpenPostGIS(table.file);
            if (ws->DatasetExists(table.layer)) ws->DeleteDataset(table.layer);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// A folder kept aside lists the copies of its analysis's database tables in
// this file, one per line: the copy's name, a tab, the table's source. Each
// line is written before its copy is made.
const char* kAsideTables = ".tables";

struct AsideTable {
    std::string copy;
    gis::LayerSource source;
};

std::vector<AsideTable> ReadAsideTables(const fs::path& aside) {
    std::vector<AsideTable> tables;
    std::ifstream in(aside / kAsideTables);
    for (std::string line; std::getline(in, line);) {
        auto tab = line.find('\t');
        if (tab != std::string::npos) tables.push_back({line.substr(0, tab), gis::LayerSource::Parse(line.substr(tab + 1))});
    }
    return tables;
}

// Settles the database tables of a replacement kept aside, given the layers
// of the new analysis. When the new one is kept, the copies go, and so do
// the old tables it no longer lists. Otherwise the tables it made that the
// old one did not have go, and the copies are put back. Tables are told
// apart by name: when in doubt one is kept. Every step may be taken again,
// so what the database could not finish (false) is taken up later.
bool SettleAsideTables(const fs::path& aside, const std::vector<std::string>& newLayers, bool keepNew) {
    auto copies = ReadAsideTables(aside);
    auto made = DatabaseTables(newLayers);
    auto isNew = [&](const std::string& table) {
        return std::any_of(made.begin(), made.end(), [&](const gis::LayerSource& m) { return IEquals(m.layer, table); });
    };
    auto isOld = [&](const std::string& table) {
        return std::any_of(copies.begin(), copies.end(), [&](const AsideTable& c) { return IEquals(c.source.layer, table); });
    };
    try {
        if (keepNew) {
            for (auto& c : copies) {
                auto ws = gis::Workspace::OpenPostGIS(c.source.file);
                if (!isNew(c.source.layer) && ws->DatasetExists(c.source.layer)) ws->DeleteDataset(c.source.layer);
                if (ws->DatasetExists(c.copy)) ws->DeleteDataset(c.copy);
            }
        } else {
            for (auto& m : made) {
                if (isOld(m.layer)) continue;
                auto ws = gis::Workspace::OpenPostGIS(m.file);
                if (ws->DatasetExists(m.layer)) ws->DeleteDataset(m.layer);
            }
            for (auto& c : copies) {
                auto ws = gis::Workspace::OpenPostGIS(c.source.file);
                if (ws->DatasetExists(c.copy)) ws->PutTableBack(c.copy, c.source.layer);
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    std::error_code ec;
    fs::remove(aside / kAsideTables, ec);
    return true;
}

// The analysis folder a copy kept aside belongs to: its name without the
// process number.
fs::path OriginalOf(const fs::path& aside, const std::string& root) {
    std::string name = aside.filename().string();
    return fs::path(root) / name.substr(0, name.rfind('.'));
}

}  // namespace

AnalysisPtr DataManager::ReadAnalysis(const std::string& folder) {
    pugi::xml_document doc;
    if (!doc.load_file((fs::path(folder) / "analysis.xml").c_str())) return nullptr;
    auto root = doc.child("Analysis");
    auto a = std::make_shared<Analysis>();
    a->name_ = root.attribute("name").as_string();
    a->folder_ = fs::path(folder).string() + "/";
    std::ostringstream props;
    root.child("PropertySet").print(props);
    if (root.child("PropertySet")) a->properties_->FromXml(props.str());
    for (auto l : root.children("Layer")) a->layers_.push_back(l.attribute("path").as_string());
    return a;
}

bool DataManager::SettleAside(const std::string& aside) {
    fs::path original = OriginalOf(aside, root_);
    bool complete = fs::exists(original / "analysis.xml") && !fs::exists(original / kIncomplete);
    auto replacement = ReadAnalysis(original.string());
    if (!SettleAsideTables(aside, replacement ? replacement->layers_ : std::vector<std::string>{}, complete)) return false;
    std::error_code ec;
    if (complete) {
        fs::remove_all(aside, ec);
    } else {
        fs::remove_all(original, ec);
        fs::rename(aside, original, ec);
    }
    return true;
}

bool DataManager::AtWork(const std::string& name, long pid, std::unique_ptr<NameLock>& lock) const {
    if (HoldsName(name)) return true;
    // A run of this process through another data manager (a program that
    // makes its analyses itself need not hold their names).
    if (pid == getpid()) return true;
    try {
        lock = NameLock::Try(root_, name);
    } catch (const std::exception&) {
        return true;  // a folder we may only read: what is there stays
    }
    return !lock;
}

void DataManager::Scan() {
    analyses_.clear();
    std::error_code ec;
    // Copies kept while an analysis was replaced: a run that never ended
    // (killed, or the machine went down) gets its old analysis back, by
    // whoever next holds its name. While the database is away, the copy
    // waits for the next time.
    fs::path replaced = fs::path(root_) / ".replaced";
    std::vector<fs::path> asides;
    if (fs::is_directory(replaced, ec))
        for (auto& e : fs::directory_iterator(replaced, ec)) asides.push_back(e.path());
    for (auto& aside : asides) {
        std::string file = aside.filename().string();
        auto dot = file.rfind('.');
        long pid = dot == std::string::npos ? 0 : ParsePid(file.substr(dot + 1));
        auto old = ReadAnalysis(aside.string());
        if (!old) old = ReadAnalysis(OriginalOf(aside, root_).string());
        std::unique_ptr<NameLock> lock;
        if (!AtWork(old ? old->name_ : file.substr(0, dot), pid, lock)) SettleAside(aside.string());
    }
    auto now = fs::file_time_type::clock::now();
    for (auto& e : fs::directory_iterator(root_)) {
        if (!e.is_directory() || !fs::exists(e.path() / "analysis.xml")) continue;
        for (auto& f : fs::directory_iterator(e.path(), ec))
            if (f.path().filename().string().rfind(kSavePrefix, 0) == 0) {
                auto t = fs::last_write_time(f.path(), ec);
                if (!ec && now - t > kSaveLeftoverAge) fs::remove(f.path(), ec);
            }
        auto a = ReadAnalysis(e.path().string());
        if (!a) continue;
        // Left by a run that was stopped before it finished, with the
        // tables it made (while the database is away, until next time).
        std::unique_ptr<NameLock> lock;
        if (fs::exists(e.path() / kIncomplete) && !AtWork(a->name_, MarkerPid(e.path() / kIncomplete), lock)) {
            if (DropDatabaseTables(*a)) fs::remove_all(e.path(), ec);
            continue;
        }
        if (!a->name_.empty()) analyses_[UCase(a->name_)] = a;
    }
}

bool DataManager::TryHoldName(const std::string& name) {
    std::string key = UCase(name);
    if (held_.count(key)) return true;
    auto lock = NameLock::Try(root_, name);
    if (!lock) return false;
    held_[key] = std::move(lock);
    Scan();
    return true;
}

void DataManager::HoldName(const std::string& name) {
    std::string key = UCase(name);
    if (held_.count(key)) return;
    held_[key] = NameLock::Wait(root_, name);
    Scan();
}

bool DataManager::HoldsName(const std::string& name) const { return held_.count(UCase(name)) > 0; }

void DataManager::ReleaseName(const std::string& name) { held_.erase(UCase(name)); }

void DataManager::NeedName(const std::string& name) {
    if (!TryHoldName(name)) Raise(kErrInvalidCall, NameHeldText(name));
}

void DataManager::EndRun(bool keepNew) {
    auto replacing = replacing_;
    for (auto& [aside, name] : replacing) {
        EndReplacement(aside, keepNew);
        made_.erase(name);
    }
    if (!keepNew)
        for (auto& name : made_)
            if (AnalysisExists(name)) RemoveAnalysis(name);
    made_.clear();
    held_.clear();
}

std::string DataManager::SetAside(const std::string& name) {
    NeedName(name);
    auto a = GetAnalysis(name);
    if (!a) return "";
    fs::path folder = fs::path(a->Folder()).parent_path();
    fs::path aside = fs::path(root_) / ".replaced" / (folder.filename().string() + "." + PidText());
    std::error_code ec;
    // One left by an earlier replacement in this process, which the
    // database did not let finish, is finished first.
    if (fs::exists(aside) && !SettleAside(aside.string()))
        Raise(kErrPathNotFound, "The analysis " + name + " cannot be replaced yet: the database still holds what an "
                                "earlier run kept aside");
    fs::create_directories(aside.parent_path(), ec);
    fs::copy(folder, aside, fs::copy_options::recursive, ec);
    std::string why = ec ? ec.message() : "";
    // Its tables in a database are copied there; each copy is listed
    // beside the folder before it is made.
    if (why.empty()) {
        std::ofstream list(aside / kAsideTables);
        try {
            for (auto& table : DatabaseTables(a->Layers())) {
                auto ws = gis::Workspace::OpenPostGIS(table.file);
                if (!ws->DatasetExists(table.layer)) continue;
                std::string copy = ws->CopyName(table.layer);
                list << copy << '\t' << gis::LayerSource{table.file, table.layer}.ToString() << '\n';
                list.flush();
                if (!list) throw std::runtime_error("the list of its tables could not be written");
                ws->CopyTable(table.layer, copy);
            }
        } catch (const std::exception& e) {
            why = e.what();
        }
    }
    if (!why.empty()) {
        // The copies made so far go; while the database is away they stay
        // listed, and the next start drops them.
        if (SettleAsideTables(aside, a->layers_, true)) fs::remove_all(aside, ec);
        Raise(kErrPathNotFound, "The analysis " + name + " could not be kept aside while it is replaced: " + why);
    }
    replacing_[aside.string()] = UCase(name);
    return aside.string();
}

void DataManager::EndReplacement(const std::string& aside, bool keepNew) {
    if (aside.empty()) return;
    replacing_.erase(aside);
    fs::path original = OriginalOf(aside, root_);
    // A failed run's analysis is marked unfinished first, so that should the
    // database not let the old one back now, the next start does it.
    if (!keepNew && fs::exists(original / "analysis.xml")) WriteMarker(original);
    SettleAside(aside);
    Scan();
}

DatasetPtr DataManager::GetDataset(long i) const {
    if (i < 0 || i >= DatasetCount()) Raise(kErrSubscript, "Subscript out of range");
    return datasets_[i];
}

namespace {

// Makes folder a folder of this user's that nobody else may enter, or
// takes it as one. A symbolic link in its place, which would send what is
// written there wherever it points, is removed, never followed. False,
// with why, when the name holds something else, or a folder of another
// user's.
bool TakePrivateFolder(const fs::path& folder, std::string& why) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat st {};
        if (lstat(folder.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                why = folder.string() + ": " + std::strerror(errno);
                return false;
            }
            if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
                why = folder.string() + " could not be made: " + std::strerror(errno);
                return false;
            }
            continue;  // made (or made by another run): look again
        }
        if (S_ISLNK(st.st_mode)) {
            if (unlink(folder.c_str()) != 0 && errno != ENOENT) {
                why = folder.string() + " is a link that could not be removed: " + std::strerror(errno);
                return false;
            }
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            why = folder.string() + " is not a folder";
            return false;
        }
        if (st.st_uid != geteuid()) {
            why = folder.string() + " belongs to another user";
            return false;
        }
        if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
            why = folder.string() + " could not be made private: " + std::strerror(errno);
            return false;
        }
        // Links left in it from before are removed too: the wizard's files
        // are written by name.
        std::error_code ec;
        for (auto& e : fs::directory_iterator(folder, ec))
            if (e.is_symlink(ec)) fs::remove(e.path(), ec);
        return true;
    }
    why = folder.string() + " keeps changing";
    return false;
}

}  // namespace

std::string DataManager::WorkingPath() const {
    // ".working" is the user's own; in an analyses folder shared with
    // others whose ".working" it is, each user has ".working-UID".
    std::string why, first;
    for (const std::string& name : {std::string(".working"), ".working-" + std::to_string(geteuid())}) {
        fs::path w = fs::path(root_) / name;
        if (TakePrivateFolder(w, why)) return (w / "wizard").string();
        if (first.empty()) first = why;
    }
    Raise(kErrPathNotFound, "The wizard's working folder could not be made: " + first + "; " + why);
}

bool DataManager::AnalysisExists(const std::string& name) const { return analyses_.count(UCase(name)) > 0; }

AnalysisPtr DataManager::GetAnalysis(const std::string& name) const {
    auto it = analyses_.find(UCase(name));
    return it == analyses_.end() ? nullptr : it->second;
}

AnalysisPtr DataManager::CreateAnalysis(const std::string& name) {
    if (Trim(name).empty()) Raise(kErrInvalidCall, "An analysis needs a name");
    NeedName(name);
    if (AnalysisExists(name)) Raise(kErrInvalidCall, "An analysis named " + name + " exists already");
    std::string safe;
    for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    // Making the folder reserves it: of two runs making analyses whose
    // names make the same folder name, each gets a folder of its own.
    fs::path folder = fs::path(root_) / safe;
    for (int n = 2;; ++n) {
        std::error_code ec;
        if (fs::create_directory(folder, ec)) break;
        if (ec && ec != std::errc::file_exists)
            Raise(kErrPathNotFound, "The analysis " + name + " could not be made in " + root_ + ": " + ec.message());
        folder = fs::path(root_) / (safe + "_" + Digits(n));
    }
    WriteMarker(folder);
    auto a = std::make_shared<Analysis>();
    a->name_ = name;
    a->folder_ = folder.string() + "/";
    try {
        a->Save();
    } catch (...) {
        // A full disk or a folder that cannot be written: nothing is left
        // under the name.
        std::error_code ec;
        fs::remove_all(folder, ec);
        throw;
    }
    analyses_[UCase(name)] = a;
    made_.insert(UCase(name));
    return a;
}

bool DataManager::RemoveAnalysis(const std::string& name) {
    // A name not held yet is held for the removal only.
    struct Release {
        DataManager* dm;
        std::string name;
        ~Release() {
            if (dm) dm->ReleaseName(name);
        }
    } release{nullptr, name};
    if (!HoldsName(name)) {
        try {
            if (!TryHoldName(name)) return false;
        } catch (const std::exception&) {
            return false;
        }
        release.dm = this;
    }
    auto it = analyses_.find(UCase(name));
    if (it == analyses_.end()) return false;
    // Its tables in a database go with it; while one cannot be dropped the
    // analysis stays. Those of an analysis being replaced stay until the
    // replacement ends: the new tables take their place, or the old ones
    // are kept.
    bool replaced = std::any_of(replacing_.begin(), replacing_.end(), [&](auto& r) { return r.second == it->first; });
    if (!replaced && !DropDatabaseTables(*it->second)) return false;
    std::error_code ec;
    fs::remove_all(it->second->Folder(), ec);
    if (ec) return false;
    analyses_.erase(it);
    return true;
}

std::vector<std::string> DataManager::AnalysisNames() const {
    std::vector<std::string> names;
    for (auto& [k, a] : analyses_) names.push_back(a->Name());
    return names;
}

void FileInfo::SetPath(const std::string& path) {
    path_ = path;
    auto pos = path.find_last_of("/\\");
    if (pos == std::string::npos) {
        folder_.clear();
        name_ = path;
    } else {
        folder_ = path.substr(0, pos + 1);
        name_ = path.substr(pos + 1);
    }
}

std::string NameHeldText(const std::string& name) {
    return "Another run is making or replacing the analysis \"" + name + "\" now; try again when it has finished.";
}

long AnalysisNameChecker::CheckName(std::string& name) const {
    if (Trim(name).empty()) return 1;
    if (name.find_first_of("/\\:*?\"<>|") != std::string::npos) return 2;
    if (name.size() > 64) return 3;
    return 0;
}

}  // namespace host
