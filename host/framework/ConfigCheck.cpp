#include "host/framework/ConfigCheck.h"

#include <fstream>
#include <iterator>

#include "host/framework/ConfigChecker.h"
#include "host/gis/Gdal.h"

namespace host {

std::string ConfigProblem::ToString() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

namespace config_check {
namespace {

// What each element may hold. Field means two things, so an element's kind
// is its name, or "Parent/Field" for a Field.
struct Rule {
    std::vector<std::string> attributes;
    std::vector<std::string> children;
    std::vector<std::string> required;  // attributes the loader cannot do without
    std::vector<std::string> single;    // children of which only the first is read
};

const std::map<std::string, Rule>& Schema() {
    static const std::map<std::string, Rule> schema = {
        {"PlexaConfiguration", {{"currentDataset", "basemapLayer", "analyses"}, {"Settings", "Dataset"}, {}, {"Settings"}}},
        {"Settings", {{}, {"Setting"}, {}, {}}},
        {"Setting", {{"name", "value"}, {}, {"name"}, {}}},
        {"Dataset", {{"name", "data", "host", "port", "database", "schema", "user"}, {"Layer", "Task"}, {"name"}, {}}},
        {"Layer", {{"name", "dataset", "caption", "idField", "descField", "source", "srs"}, {}, {"name"}, {}}},
        {"Task",
         {{"name", "caption", "type", "level"},
          {"Param", "AdditionalFields", "Years", "Category", "Task"},
          {"name"},
          {"AdditionalFields", "Years"}}},
        {"Param", {{"key", "value"}, {}, {"key"}, {}}},
        {"AdditionalFields", {{}, {"Field"}, {}, {}}},
        {"AdditionalFields/Field", {{}, {}, {}, {}}},
        {"Years", {{}, {"Year"}, {}, {}}},
        {"Year", {{}, {}, {}, {}}},
        {"Category", {{"id", "caption", "IsProfiled"}, {"Target"}, {"id"}, {}}},
        {"Target", {{"name", "caption", "CanPercent", "IsProfiledName", "ProfiledName"}, {"Field"}, {"name"}, {}}},
        {"Target/Field", {{"year", "number", "percent"}, {}, {}, {}}},
    };
    return schema;
}

bool IsFlag(const std::string& attribute) {
    return attribute == "CanPercent" || attribute == "IsProfiled" || attribute == "IsProfiledName";
}

std::string KindOf(const std::string& parentKind, const std::string& name) {
    return name == "Field" ? parentKind + "/Field" : name;
}

}  // namespace

std::vector<ConfigProblem> Checker::Run() {
    try {
        if (Load()) {
            CheckStructure();
            CheckContents();
        }
    } catch (const std::exception& e) {
        Add(0, "The check stopped early: " + OneLine(e.what()));
    } catch (...) {
        Add(0, "The check stopped early on an unexpected error");
    }
    std::stable_sort(problems_.begin(), problems_.end(),
                     [](const ConfigProblem& a, const ConfigProblem& b) { return a.line < b.line; });
    return std::move(problems_);
}

bool Checker::Load() {
    std::error_code ec;
    if (!fs::exists(file_, ec)) {
        Add(0, "The configuration file does not exist");
        return false;
    }
    if (!fs::is_regular_file(file_, ec)) {
        Add(0, "The configuration is not a file");
        return false;
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        Add(0, "The configuration file cannot be read");
        return false;
    }
    text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    buffer_ = text_;
    lineStarts_.push_back(0);
    for (size_t i = 0; i < text_.size(); ++i)
        if (text_[i] == '\n') lineStarts_.push_back(i + 1);
    base_ = fs::absolute(file_).parent_path();

    auto res = doc_.load_buffer_inplace(buffer_.data(), buffer_.size(), pugi::parse_default);
    if (!res) {
        Add(std::max(1, LineAt(res.offset)), std::string("Not well-formed XML: ") + res.description());
        return false;
    }
    for (auto n : doc_.children()) {
        if (n.type() != pugi::node_element) continue;
        if (std::string(n.name()) != "PlexaConfiguration") {
            Add(Line(n), "Unknown element <" + std::string(n.name()) + ">; a configuration's root is <PlexaConfiguration>" +
                             Suggestion(n.name(), {"PlexaConfiguration"}));
        } else if (root_) {
            Add(Line(n), "A second <PlexaConfiguration> is not read; keep one");
        } else {
            root_ = n;
        }
    }
    if (!root_) {
        Add(0, "No <PlexaConfiguration> element: the file is not a dataset configuration");
        return false;
    }
    return true;
}

void Checker::CheckStructure() {
    struct Frame {
        pugi::xml_node node;
        std::string kind;
        int taskDepth;
    };
    std::vector<Frame> stack{{root_, "PlexaConfiguration", 0}};
    while (!stack.empty()) {
        Frame f = std::move(stack.back());
        stack.pop_back();
        const Rule& rule = Schema().at(f.kind);
        std::string element = "<" + std::string(f.node.name()) + ">";
        for (auto a : f.node.attributes()) {
            std::string name = a.name();
            if (std::find(rule.attributes.begin(), rule.attributes.end(), name) == rule.attributes.end())
                Add(Line(a, f.node), "Unknown attribute " + name + " on " + element + Suggestion(name, rule.attributes));
            else if (IsFlag(name) && std::string(a.value()) != "True" && std::string(a.value()) != "False")
                Add(Line(a, f.node), name + " must be \"True\" or \"False\", not " + Quote(a.value()));
        }
        for (auto& r : rule.required)
            if (Trim(f.node.attribute(r.c_str()).value()).empty())
                Add(Line(f.node), "The " + element + " element has no " + r + ": add " + r + "=\"...\"");
        std::set<std::string> seen;
        for (auto c : f.node.children()) {
            if (c.type() != pugi::node_element) continue;
            std::string name = c.name();
            if (std::find(rule.children.begin(), rule.children.end(), name) == rule.children.end()) {
                Add(Line(c), "Unknown element <" + name + "> in " + element + Suggestion(name, rule.children));
                continue;
            }
            if (std::find(rule.single.begin(), rule.single.end(), name) != rule.single.end() && !seen.insert(name).second)
                Add(Line(c), "Only the first <" + name + "> of " + element + " is read; merge this one into it");
            int depth = f.taskDepth + (name == "Task" ? 1 : 0);
            if (depth > kMaxTaskDepth) {
                Add(Line(c), "Tasks nest deeper than " + std::to_string(kMaxTaskDepth) +
                                 " levels; this one and those inside it are not checked");
                continue;
            }
            stack.push_back({c, KindOf(f.kind, name), depth});
        }
    }
}

void Checker::CheckContents() {
    for (auto d : root_.children("Dataset")) {
        DatasetEntry ds;
        ds.node = d;
        ds.name = d.attribute("name").value();
        for (auto& other : datasets_)
            if (!ds.name.empty() && other.name == ds.name)
                Add(Line(d), "Another dataset is already named " + Quote(ds.name) + " (line " +
                                 std::to_string(Line(other.node)) + "); give each its own name");
        datasets_.push_back(std::move(ds));
    }
    if (datasets_.empty()) {
        Add(Line(root_), "No <Dataset> element: a configuration needs at least one dataset");
        return;
    }
    for (auto& ds : datasets_) {
        try {
            CheckLayers(ds);
            CheckLevels(ds);
        } catch (const std::exception& e) {
            Add(Line(ds.node), "The check of the dataset " + Quote(ds.name) + " stopped early: " + OneLine(e.what()));
        }
    }
    CheckCurrent();
}

void Checker::CheckCurrent() {
    DatasetEntry* current = &datasets_.front();
    if (auto a = root_.attribute("currentDataset")) {
        current = nullptr;
        for (auto& ds : datasets_)
            if (ds.name == a.value()) current = &ds;
        if (!current) {
            std::vector<std::string> names;
            for (auto& ds : datasets_) names.push_back(ds.name);
            Add(Line(a, root_), "The currentDataset " + Quote(a.value()) + " names no dataset (datasets: " +
                                    List(names) + ")" + Suggestion(a.value(), names));
            return;
        }
    }
    CheckDataFormat(*current);
    auto a = root_.attribute("basemapLayer");
    if (!a) return;
    LayerEntry* layer = current->Find(a.value());
    if (!layer) {
        Add(Line(a, root_), "The basemapLayer " + Quote(a.value()) + " is not a layer of the dataset " +
                                Quote(current->name) + " (layers: " + List(current->Names()) + ")");
        return;
    }
    if (!layer->fc) return;
    std::string kind = NotPolygons(*layer->fc);
    if (!kind.empty())
        Add(Line(a, root_), "The basemap layer " + layer->def.name + " (" + layer->fc->DataPath() + ") holds " + kind +
                                "; the basemap needs polygons, drawn as areas under the results");
}

void Checker::CheckDataFormat(const DatasetEntry& current) {
    for (auto s : root_.child("Settings").children("Setting"))
        if (std::string(s.attribute("name").value()) == "Data Format" &&
            std::string(s.attribute("value").value()) == "PostGIS" && !DataAttributes::Of(current.node).NamesDatabase())
            Add(Line(s), "The Data Format PostGIS writes the analyses into the database of the current dataset, and " +
                             Quote(current.name) + " is not in a database; give it one or choose Shapefile");
}

}  // namespace config_check

std::vector<ConfigProblem> CheckConfiguration(const std::string& path) {
    try {
        gis::EnsureGdal();
        return config_check::Checker(path).Run();
    } catch (...) {
        return {{path, 0, "The configuration could not be checked"}};
    }
}

}  // namespace host
