#include "host/framework/Framework.h"

#include "host/framework/ErrorHandler.h"
#include "host/platform/TextFile.h"

#include <pugixml.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <signal.h>
#include <unistd.h>

#include "host/framework/ErrorHandler.h"

namespace fs = std::filesystem;

namespace host {

// ---------------- PropertySet ----------------

Variant PropertySet::GetProperty(const std::string& name) const {
    for (auto& [k, v] : items_)
        if (k == name) return v;
    return {};
}

bool PropertySet::HasProperty(const std::string& name) const {
    for (auto& [k, v] : items_)
        if (k == name) return true;
    return false;
}

void PropertySet::SetProperty(const std::string& name, Variant value) {
    for (auto& [k, v] : items_)
        if (k == name) {
            v = std::move(value);
            return;
        }
    items_.emplace_back(name, std::move(value));
}

void PropertySet::RemoveProperty(const std::string& name) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->first == name) {
            items_.erase(it);
            return;
        }
}

void PropertySet::GetAllProperties(std::vector<std::string>& names, std::vector<Variant>& values) const {
    names.clear();
    values.clear();
    for (auto& [k, v] : items_) {
        names.push_back(k);
        values.push_back(v);
    }
}

std::string PropertySet::ToXml() const {
    pugi::xml_document doc;
    auto root = doc.append_child("PropertySet");
    for (auto& [k, v] : items_) {
        if (v.IsObject()) continue;  // objects live only in memory
        auto p = root.append_child("Property");
        p.append_attribute("name") = k.c_str();
        const char* type = v.IsBool() ? "Boolean" : v.IsNumber() ? "Double" : "String";
        p.append_attribute("type") = type;
        std::string text = v.IsNumber() ? [&] {
            std::ostringstream o;
            o.precision(17);
            o << v.ToDouble();
            return o.str();
        }() : v.ToString();
        p.append_attribute("value") = text.c_str();
    }
    std::ostringstream out;
    doc.save(out, "  ");
    return out.str();
}

void PropertySet::FromXml(const std::string& xml) {
    pugi::xml_document doc;
    if (!doc.load_string(xml.c_str())) Raise(kErrInvalidCall, "The stored properties are not readable");
    items_.clear();
    for (auto p : doc.child("PropertySet").children("Property")) {
        std::string type = p.attribute("type").as_string();
        if (type == "Boolean") SetProperty(p.attribute("name").as_string(), std::string(p.attribute("value").as_string()) == "True");
        else if (type == "Double") SetProperty(p.attribute("name").as_string(), p.attribute("value").as_double());
        else SetProperty(p.attribute("name").as_string(), std::string(p.attribute("value").as_string()));
    }
}

// ---------------- configuration objects ----------------

std::string TargetDef::Property(const std::string& key) const {
    auto it = properties.find(key);
    return it == properties.end() ? "" : it->second;
}

std::string CategoryDef::Property(const std::string& key) const {
    auto it = properties.find(key);
    return it == properties.end() ? "" : it->second;
}

TargetDefPtr CategoryDef::Target(long i) const {
    if (i < 0 || i >= TargetCount()) Raise(kErrSubscript, "Subscript out of range");
    return targets[i];
}

TargetDefPtr CategoryDef::TargetByName(const std::string& n) const {
    for (auto& t : targets)
        if (t->name == n) return t;
    return nullptr;
}

std::string TaskEntry::Param(const std::string& key) const {
    for (auto& [k, v] : params)
        if (k == key) return v;
    return "";
}

bool TaskEntry::HasParam(const std::string& key) const {
    for (auto& [k, v] : params)
        if (k == key) return true;
    return false;
}

TaskEntryPtr TaskEntry::SubEntry(long i) const {
    if (i < 0 || i >= SubEntryCount()) Raise(kErrSubscript, "Subscript out of range");
    return subEntries[i];
}

CategoryDefPtr TaskEntry::Category(long i) const {
    if (i < 0 || i >= CategoryCount()) Raise(kErrSubscript, "Subscript out of range");
    return categories[i];
}

CategoryDefPtr TaskEntry::CategoryById(const std::string& id) const {
    for (auto& c : categories)
        if (c->id == id) return c;
    return nullptr;
}

DatasetLayerPtr Dataset::LayerByName(const std::string& n) const {
    for (auto& l : layers)
        if (IEquals(l->name, n)) return l;
    return nullptr;
}

TaskEntryPtr Dataset::Task(long i) const {
    if (i < 0 || i >= TaskCount()) Raise(kErrSubscript, "Subscript out of range");
    return tasks[i];
}

namespace {

// Task entries nest a few levels deep; a file nesting them without end is
// refused before it can exhaust the stack.
constexpr int kMaxTaskDepth = 16;

TaskEntryPtr ReadTask(const pugi::xml_node& n, const std::string& file, int depth = 1) {
    if (depth > kMaxTaskDepth)
        Raise(kErrInvalidCall, file + ": Task elements nest deeper than " + std::to_string(kMaxTaskDepth) + " levels");
    auto t = std::make_shared<TaskEntry>();
    t->name = n.attribute("name").as_string();
    if (t->name.empty()) Raise(kErrInvalidCall, file + ": a Task element has no name (line offset " + std::to_string(n.offset_debug()) + ")");
    t->caption = n.attribute("caption").as_string(t->name.c_str());
    t->typeText = n.attribute("type").as_string();
    t->levelName = n.attribute("level").as_string(t->caption.c_str());
    for (auto p : n.children("Param")) t->params.emplace_back(p.attribute("key").as_string(), p.attribute("value").as_string());
    for (auto f : n.child("AdditionalFields").children("Field")) t->additionalFields->Add(f.text().as_string());
    for (auto y : n.child("Years").children("Year")) t->years->Add(y.text().as_string());
    for (auto c : n.children("Category")) {
        auto cat = std::make_shared<CategoryDef>();
        cat->id = c.attribute("id").as_string();
        cat->caption = c.attribute("caption").as_string(cat->id.c_str());
        // Categories and targets take part in profiles unless the
        // configuration says otherwise.
        cat->properties["IsProfiled"] = "True";
        for (auto a : c.attributes()) {
            std::string an = a.name();
            if (an != "id" && an != "caption") cat->properties[an] = a.as_string();
        }
        for (auto tg : c.children("Target")) {
            auto target = std::make_shared<TargetDef>();
            target->name = tg.attribute("name").as_string();
            target->caption = tg.attribute("caption").as_string(target->name.c_str());
            target->properties["IsProfiledName"] = "True";
            target->properties["ProfiledName"] = target->caption;
            for (auto a : tg.attributes()) {
                std::string an = a.name();
                if (an != "name" && an != "caption") target->properties[an] = a.as_string();
            }
            for (auto f : tg.children("Field")) {
                std::string year = f.attribute("year").as_string("1");
                if (f.attribute("number")) target->numberFields[year] = f.attribute("number").as_string();
                if (f.attribute("percent")) target->percentFields[year] = f.attribute("percent").as_string();
            }
            cat->targets.push_back(target);
        }
        t->categories.push_back(cat);
    }
    for (auto s : n.children("Task")) t->subEntries.push_back(ReadTask(s, file, depth + 1));
    return t;
}

}  // namespace

HostConfiguration LoadHostConfiguration(const std::string& path) {
    if (!fs::exists(path)) Raise(kErrFileNotFound, "The configuration file " + path + " does not exist");
    pugi::xml_document doc;
    auto res = doc.load_file(path.c_str());
    if (!res)
        Raise(kErrInvalidCall, "The configuration file " + path + " is not valid XML: " + res.description() +
                                   " at offset " + std::to_string(res.offset));
    auto root = doc.child("PlexaConfiguration");
    if (!root) Raise(kErrInvalidCall, "The configuration file " + path + " has no PlexaConfiguration element");
    HostConfiguration cfg;
    cfg.sourcePath = fs::absolute(path).string();
    fs::path base = fs::absolute(path).parent_path();
    cfg.currentDataset = root.attribute("currentDataset").as_string();
    cfg.basemapLayer = root.attribute("basemapLayer").as_string();
    for (auto s : root.child("Settings").children("Setting")) cfg.settings[s.attribute("name").as_string()] = s.attribute("value").as_string();
    if (auto a = root.attribute("analyses")) {
        fs::path p = a.as_string();
        cfg.settings["Analyses Folder"] = (p.is_absolute() ? p : base / p).lexically_normal().string();
    }
    for (auto d : root.children("Dataset")) {
        auto ds = std::make_shared<Dataset>();
        ds->name = d.attribute("name").as_string();
        fs::path data = d.attribute("data").as_string(".");
        ds->dataPath = (data.is_absolute() ? data : base / data).lexically_normal().string();
        for (auto l : d.children("Layer")) {
            auto layer = std::make_shared<DatasetLayer>();
            layer->name = l.attribute("name").as_string();
            layer->datasetName = l.attribute("dataset").as_string(layer->name.c_str());
            layer->caption = l.attribute("caption").as_string(layer->name.c_str());
            layer->idField = l.attribute("idField").as_string();
            layer->descField = l.attribute("descField").as_string();
            layer->srs = l.attribute("srs").as_string();
            if (auto src = l.attribute("source")) {
                auto ls = gis::LayerSource::Parse(src.as_string());
                fs::path f = ls.file;
                ls.file = (f.is_absolute() ? f : base / f).lexically_normal().string();
                layer->source = ls.ToString();
            }
            ds->layers.push_back(layer);
        }
        for (auto t : d.children("Task")) ds->tasks.push_back(ReadTask(t, path));
        cfg.datasets.push_back(ds);
    }
    if (cfg.datasets.empty()) Raise(kErrInvalidCall, "The configuration file " + path + " defines no dataset");
    if (cfg.currentDataset.empty()) cfg.currentDataset = cfg.datasets.front()->name;
    return cfg;
}

// ---------------- Analysis and DataManager ----------------

void Analysis::SetProperties(PropertySetPtr p) {
    properties_ = p ? p : std::make_shared<PropertySet>();
    Save();
}

void Analysis::SetProperty(const std::string& name, Variant v) {
    properties_->SetProperty(name, std::move(v));
    Save();
}

Variant Analysis::GetProperty(const std::string& name) const { return properties_->GetProperty(name); }

void Analysis::AddLayer(const std::string& path) {
    for (auto& l : layers_)
        if (l == path) return;
    layers_.push_back(path);
    Save();
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
    if (!platform::WriteFileAtomically(folder_ + "analysis.xml", text.str()))
        Raise(kErrPathNotFound, "The analysis " + name_ + " could not be saved in " + folder_);
}

DataManager::DataManager(std::vector<DatasetPtr> datasets, std::string analysesRoot)
    : datasets_(std::move(datasets)), root_(std::move(analysesRoot)) {
    fs::create_directories(root_);
    root_ = fs::absolute(root_).lexically_normal().string();
    if (root_.back() != '/') root_ += '/';
    Scan();
}

namespace {

// An analysis folder holds this file from its creation until its output is
// registered; it names the process that makes it.
const char* kIncomplete = ".incomplete";

bool ProcessAlive(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

long MarkerPid(const fs::path& marker) {
    std::ifstream in(marker);
    long pid = 0;
    in >> pid;
    return pid;
}

}  // namespace

void DataManager::Scan() {
    analyses_.clear();
    std::error_code ec;
    // Copies kept while an analysis was replaced: a run that never ended
    // (killed, or the machine went down) gets its old analysis back.
    fs::path aside = fs::path(root_) / ".replaced";
    if (fs::is_directory(aside, ec))
        for (auto& e : fs::directory_iterator(aside, ec)) {
            auto dot = e.path().filename().string().rfind('.');
            long pid = dot == std::string::npos ? 0 : std::atol(e.path().filename().string().c_str() + dot + 1);
            if (ProcessAlive(pid)) continue;
            fs::path original = fs::path(root_) / e.path().filename().string().substr(0, dot);
            bool complete = fs::exists(original / "analysis.xml") && !fs::exists(original / kIncomplete);
            if (complete) {
                fs::remove_all(e.path(), ec);
            } else {
                fs::remove_all(original, ec);
                fs::rename(e.path(), original, ec);
            }
        }
    for (auto& e : fs::directory_iterator(root_)) {
        if (!e.is_directory() || !fs::exists(e.path() / "analysis.xml")) continue;
        // Left by a run that was stopped before it finished.
        if (fs::exists(e.path() / kIncomplete) && !ProcessAlive(MarkerPid(e.path() / kIncomplete))) {
            fs::remove_all(e.path(), ec);
            continue;
        }
        for (auto& f : fs::directory_iterator(e.path(), ec))
            if (f.path().filename().string().rfind(".analysis.xml.", 0) == 0) fs::remove(f.path(), ec);
        pugi::xml_document doc;
        if (!doc.load_file((e.path() / "analysis.xml").c_str())) continue;
        auto root = doc.child("Analysis");
        auto a = std::make_shared<Analysis>();
        a->name_ = root.attribute("name").as_string();
        a->folder_ = e.path().string() + "/";
        std::ostringstream props;
        root.child("PropertySet").print(props);
        if (root.child("PropertySet")) a->properties_->FromXml(props.str());
        for (auto l : root.children("Layer")) a->layers_.push_back(l.attribute("path").as_string());
        if (!a->name_.empty()) analyses_[UCase(a->name_)] = a;
    }
}

std::string DataManager::SetAside(const std::string& name) {
    auto a = GetAnalysis(name);
    if (!a) return "";
    fs::path folder = fs::path(a->Folder()).parent_path();
    fs::path aside = fs::path(root_) / ".replaced" / (folder.filename().string() + "." + std::to_string(getpid()));
    std::error_code ec;
    fs::remove_all(aside, ec);
    fs::create_directories(aside.parent_path(), ec);
    fs::copy(folder, aside, fs::copy_options::recursive, ec);
    if (ec) {
        fs::remove_all(aside, ec);
        Raise(kErrPathNotFound, "The analysis " + name + " could not be kept aside while it is replaced");
    }
    return aside.string();
}

void DataManager::EndReplacement(const std::string& aside, bool keepNew) {
    if (aside.empty()) return;
    std::error_code ec;
    fs::path copy(aside);
    if (!keepNew) {
        auto dot = copy.filename().string().rfind('.');
        fs::path original = fs::path(root_) / copy.filename().string().substr(0, dot);
        // Whatever the failed run left under the name goes; the old one returns.
        fs::remove_all(original, ec);
        fs::rename(copy, original, ec);
    }
    fs::remove_all(copy, ec);
    Scan();
}

DatasetPtr DataManager::GetDataset(long i) const {
    if (i < 0 || i >= DatasetCount()) Raise(kErrSubscript, "Subscript out of range");
    return datasets_[i];
}

std::string DataManager::WorkingPath() const {
    fs::path w = fs::path(root_) / ".working";
    fs::create_directories(w);
    return (w / "wizard").string();
}

bool DataManager::AnalysisExists(const std::string& name) const { return analyses_.count(UCase(name)) > 0; }

AnalysisPtr DataManager::GetAnalysis(const std::string& name) const {
    auto it = analyses_.find(UCase(name));
    return it == analyses_.end() ? nullptr : it->second;
}

AnalysisPtr DataManager::CreateAnalysis(const std::string& name) {
    if (Trim(name).empty()) Raise(kErrInvalidCall, "An analysis needs a name");
    if (AnalysisExists(name)) Raise(kErrInvalidCall, "An analysis named " + name + " exists already");
    std::string safe;
    for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    fs::path folder = fs::path(root_) / safe;
    for (int n = 2; fs::exists(folder); ++n) folder = fs::path(root_) / (safe + "_" + std::to_string(n));
    fs::create_directories(folder);
    std::ofstream(folder / kIncomplete) << getpid() << "\n";
    auto a = std::make_shared<Analysis>();
    a->name_ = name;
    a->folder_ = folder.string() + "/";
    a->Save();
    analyses_[UCase(name)] = a;
    return a;
}

bool DataManager::RemoveAnalysis(const std::string& name) {
    auto it = analyses_.find(UCase(name));
    if (it == analyses_.end()) return false;
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

// ---------------- FileInfo, name checker ----------------

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

long AnalysisNameChecker::CheckName(std::string& name) const {
    if (Trim(name).empty()) return 1;
    if (name.find_first_of("/\\:*?\"<>|") != std::string::npos) return 2;
    if (name.size() > 64) return 3;
    return 0;
}

// ---------------- DataWorkspace, Extension ----------------

gis::FeatureClassPtr DataWorkspace::OpenFeatureClass(const std::string& name) {
    auto it = open_.find(name);
    if (it != open_.end()) return it->second;
    gis::FeatureClassPtr fc;
    for (auto& l : layers_)
        if (l->datasetName == name && (!l->source.empty() || !l->srs.empty())) fc = OpenLayer(*l, ws_);
    if (!fc) fc = ws_->OpenFeatureClass(name);
    open_[name] = fc;
    return fc;
}

gis::FeatureClassPtr DataWorkspace::OpenLayer(const DatasetLayer& layer, const gis::WorkspacePtr& ws) {
    gis::FeatureClassPtr fc;
    if (!layer.source.empty()) {
        fc = gis::OpenLayerSource(gis::LayerSource::Parse(layer.source));
        if (!fc->HasShape()) Raise(kErrInvalidCall, "The layer " + layer.name + " (" + layer.source + ") has no shapes");
    } else {
        if (!ws) Raise(kErrInvalidCall, "The layer " + layer.name + " has no data workspace");
        fc = ws->OpenFeatureClass(layer.datasetName);
    }
    if (!layer.srs.empty()) fc->AssignSpatialReference(gis::SpatialReference::FromUserInput(layer.srs));
    return fc;
}

gis::CursorPtr DataWorkspace::Search(const std::string& datasetName, const std::string& whereClause,
                                     const std::string&, const gis::GeometryPtr& geometry) {
    auto fc = OpenFeatureClass(datasetName);
    gis::QueryFilter filter;
    filter.whereClause = whereClause;
    filter.geometry = geometry;
    return fc->Search(&filter, false);
}

Extension::Extension(DataManagerPtr dm, HostConfiguration config) : dm_(std::move(dm)), config_(std::move(config)) {}

DataWorkspacePtr Extension::GetDataWorkspace() {
    if (dataWs_ && dataWsDataset_ == config_.currentDataset) return dataWs_;
    DatasetPtr ds;
    for (auto& d : config_.datasets)
        if (d->name == config_.currentDataset) ds = d;
    if (!ds) Raise(kErrInvalidCall, "The current dataset " + config_.currentDataset + " is not configured");
    gis::WorkspacePtr ws = LCase(fs::path(ds->dataPath).extension().string()) == ".gpkg"
                               ? gis::Workspace::OpenGeoPackage(ds->dataPath)
                               : gis::Workspace::OpenFolder(ds->dataPath);
    dataWs_ = std::make_shared<DataWorkspace>(ws, ds->layers);
    dataWsDataset_ = config_.currentDataset;
    return dataWs_;
}

DataQueryPtr Extension::GetDataQuery(const std::string& layerName) {
    for (auto& d : config_.datasets) {
        if (d->name != config_.currentDataset) continue;
        auto layer = d->LayerByName(layerName);
        if (!layer) return nullptr;
        auto q = std::make_shared<DataQuery>();
        q->layer = layer;
        q->featureClass = GetDataWorkspace()->OpenFeatureClass(layer->datasetName);
        return q;
    }
    return nullptr;
}

std::string Extension::Setting(const std::string& name) const {
    auto it = config_.settings.find(name);
    // The name of the study area, when the configuration gives none.
    if (it == config_.settings.end() && name == "CurrentExtent")
        return bounding_ ? "analysis extent of " + config_.currentDataset : "all of " + config_.currentDataset;
    return it == config_.settings.end() ? "" : it->second;
}

ExtensionPtr FindExtension(const gis::ApplicationPtr& app) {
    if (!app) return nullptr;
    return std::dynamic_pointer_cast<Extension>(app->FindExtension("PXKernel.PXExtension"));
}

// ---------------- FunctionRunner ----------------

namespace {
std::shared_ptr<ProgressSink>& SinkRef() {
    static std::shared_ptr<ProgressSink> sink = MakeSilentProgress();
    return sink;
}

std::atomic<bool> g_interrupted{false};
long& LastCodeRef() {
    static long code = 0;
    return code;
}
extern "C" void OnInterrupt(int) { g_interrupted = true; }

class TerminalProgress : public ProgressSink {
public:
    explicit TerminalProgress(bool draw) : draw_(draw) {}
    void Begin(const std::string&, const std::string& caption, const std::string& message) override {
        caption_ = caption;
        message_ = message;
        g_interrupted = false;
        // Ctrl+C, or a polite kill, cancels: the work cleans up after itself.
        old_ = std::signal(SIGINT, OnInterrupt);
        oldTerm_ = std::signal(SIGTERM, OnInterrupt);
        tty_ = draw_ && isatty(STDERR_FILENO);
        Draw(-1);
    }
    void Step(double fraction, const std::string& message) override {
        if (!message.empty()) message_ = message;
        Draw(fraction);
    }
    // The bar goes away; whether the work succeeded is for the caller to
    // say, since a completed run may still have failed.
    void End(long code) override {
        std::signal(SIGINT, old_ == SIG_ERR ? SIG_DFL : old_);
        std::signal(SIGTERM, oldTerm_ == SIG_ERR ? SIG_DFL : oldTerm_);
        (void)code;
        if (tty_) std::cerr << "\r\033[K" << std::flush;
    }
    bool CancelRequested() override { return g_interrupted.load(); }

private:
    void Draw(double fraction) {
        if (!tty_) return;
        static const char spin[] = "|/-\\";
        std::cerr << "\r\033[K" << caption_ << ": " << message_ << " ";
        if (fraction >= 0) {
            int filled = static_cast<int>(fraction * 30 + 0.5);
            std::cerr << "[" << std::string(filled, '#') << std::string(30 - filled, '.') << "] "
                      << static_cast<int>(fraction * 100 + 0.5) << "%";
        } else {
            std::cerr << spin[tick_++ % 4];
        }
        std::cerr << "  (Ctrl+C cancels)" << std::flush;
    }
    std::string caption_, message_;
    void (*old_)(int) = SIG_DFL;
    void (*oldTerm_)(int) = SIG_DFL;
    bool draw_ = true;
    bool tty_ = false;
    unsigned tick_ = 0;
};

class SilentProgress : public ProgressSink {
public:
    explicit SilentProgress(long cancelAfter) : cancelAfter_(cancelAfter) {}
    void Begin(const std::string&, const std::string&, const std::string&) override { steps_ = 0; }
    void Step(double, const std::string&) override {}
    void End(long) override {}
    bool CancelRequested() override { return cancelAfter_ >= 0 && steps_++ >= cancelAfter_; }

private:
    long cancelAfter_;
    long steps_ = 0;
};
}  // namespace

std::shared_ptr<ProgressSink> MakeTerminalProgress(bool draw) { return std::make_shared<TerminalProgress>(draw); }
std::shared_ptr<ProgressSink> MakeSilentProgress(long cancelAfterSteps) {
    return std::make_shared<SilentProgress>(cancelAfterSteps);
}

void FunctionRunner::SetSink(std::shared_ptr<ProgressSink> sink) { SinkRef() = sink ? sink : MakeSilentProgress(); }
ProgressSink* FunctionRunner::Sink() { return SinkRef().get(); }

void FunctionRunner::ReportProgress(double fraction, const std::string& message) { SinkRef()->Step(fraction, message); }

long FunctionRunner::Run(IPXFunction& function, const std::string& animation, const std::string& caption,
                         const std::string& message) {
    auto sink = SinkRef();
    sink->Begin(animation, caption, message);
    long code = kCompleted;
    try {
        bool more = function.Start();
        // Ctrl+C while Start did all the work still counts as a cancel.
        if (!more && sink->CancelRequested()) code = kCancelled;
        while (more) {
            if (sink->CancelRequested()) {
                code = kCancelled;
                break;
            }
            more = function.DoStep();
            sink->Step(-1, "");
        }
    } catch (...) {
        ReportException(NewErrorHandler(), "FunctionRunner_Run ");
        code = kFailed;
    }
    sink->End(code);
    LastCodeRef() = code;
    return code;
}

long FunctionRunner::LastCode() { return LastCodeRef(); }
bool FunctionRunner::Interrupted() { return g_interrupted.load(); }

}  // namespace host
