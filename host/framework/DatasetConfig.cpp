#include "host/framework/DatasetConfig.h"

#include <pugixml.hpp>

#include <filesystem>

#include "host/gis/LayerSource.h"
#include "host/gis/PgConnection.h"

namespace fs = std::filesystem;

namespace host {

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

DataAttributes DataAttributes::Of(const pugi::xml_node& d) {
    return {d.attribute("data").value(),     d.attribute("host").value(),   d.attribute("port").value(),
            d.attribute("database").value(), d.attribute("schema").value(), d.attribute("user").value()};
}

bool DataAttributes::NamesDatabase() const {
    return !host.empty() || !port.empty() || !database.empty() || !schema.empty() || !user.empty() ||
           gis::PgConnection::IsConnectionString(data);
}

std::string ResolveDataPath(const DataAttributes& a, const std::string& baseFolder) {
    bool parts = !a.host.empty() || !a.port.empty() || !a.database.empty() || !a.schema.empty() || !a.user.empty();
    if (parts && !a.data.empty())
        Raise(kErrInvalidCall, "give the data either as data=\"...\" or as database=\"...\" with host, port, schema "
                               "and user, not both");
    if (parts) {
        if (a.database.empty()) Raise(kErrInvalidCall, "a dataset in a database needs its database=\"NAME\"");
        return gis::PgConnection::FromParts(a.host, a.port, a.database, a.schema, a.user).ToString();
    }
    if (gis::PgConnection::IsConnectionString(a.data)) return gis::PgConnection::Parse(a.data).ToString();
    fs::path data = a.data.empty() ? fs::path(".") : fs::path(a.data);
    return (data.is_absolute() ? data : fs::path(baseFolder) / data).lexically_normal().string();
}

std::string ResolveLayerSource(const std::string& source, const std::string& baseFolder) {
    auto ls = gis::LayerSource::Parse(source);
    if (gis::PgConnection::IsConnectionString(ls.file)) return source;
    fs::path f = ls.file;
    ls.file = (f.is_absolute() ? f : fs::path(baseFolder) / f).lexically_normal().string();
    return ls.ToString();
}

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
        try {
            ds->dataPath = ResolveDataPath(DataAttributes::Of(d), base.string());
        } catch (const std::exception& e) {
            Raise(kErrInvalidCall, "The configuration file " + path + ": the dataset " + ds->name + ": " + e.what());
        }
        for (auto l : d.children("Layer")) {
            auto layer = std::make_shared<DatasetLayer>();
            layer->name = l.attribute("name").as_string();
            layer->datasetName = l.attribute("dataset").as_string(layer->name.c_str());
            layer->caption = l.attribute("caption").as_string(layer->name.c_str());
            layer->idField = l.attribute("idField").as_string();
            layer->descField = l.attribute("descField").as_string();
            layer->srs = l.attribute("srs").as_string();
            if (auto src = l.attribute("source")) layer->source = ResolveLayerSource(src.as_string(), base.string());
            ds->layers.push_back(layer);
        }
        for (auto t : d.children("Task")) ds->tasks.push_back(ReadTask(t, path));
        cfg.datasets.push_back(ds);
    }
    if (cfg.datasets.empty()) Raise(kErrInvalidCall, "The configuration file " + path + " defines no dataset");
    if (cfg.currentDataset.empty()) cfg.currentDataset = cfg.datasets.front()->name;
    return cfg;
}

}  // namespace host
