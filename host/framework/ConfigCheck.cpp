#include "host/framework/ConfigCheck.h"

#include <ogr_geometry.h>
#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "host/framework/DatasetConfig.h"
#include "host/framework/Extension.h"
#include "host/gis/Cursor.h"
#include "host/gis/Field.h"
#include "host/gis/Gdal.h"
#include "host/gis/LayerSource.h"
#include "host/gis/SpatialReference.h"
#include "host/gis/Table.h"
#include "host/gis/Workspace.h"

namespace fs = std::filesystem;

namespace host {

std::string ConfigProblem::ToString() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

namespace {

// Tasks deeper than this are not read: nobody nests that far on purpose,
// and the loader walks tasks recursively.
constexpr int kMaxTaskDepth = 16;
// Rows of the demographic data page.
constexpr size_t kDataPageRows = 8;
// Year options of the data page.
constexpr size_t kDataPageYears = 3;

const char* const kByLayer = "CustomerProspecting.ByLayer";
const char* const kHousehold = "CustomerProspecting.Household";

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

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "; did you mean X?" when a known name is close enough to be the intent.
std::string Suggestion(const std::string& name, const std::vector<std::string>& known) {
    size_t best = 3;
    std::string found;
    for (auto& k : known) {
        size_t d = EditDistance(name, k);
        if (d < best && d < k.size()) best = d, found = k;
    }
    return found.empty() ? "" : "; did you mean " + found + "?";
}

std::string List(const std::vector<std::string>& names) {
    std::string s;
    for (auto& n : names) s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? "none" : s;
}

std::string OneLine(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return Trim(s);
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string Describe(gis::FieldType t) {
    switch (t) {
        case gis::kFieldString: return "text";
        case gis::kFieldDate: return "a date";
        case gis::kFieldOID: return "the object id";
        case gis::kFieldGeometry: return "the shape";
        default: return "a number";
    }
}

bool IsNumeric(gis::FieldType t) {
    return t == gis::kFieldSmallInteger || t == gis::kFieldInteger || t == gis::kFieldSingle || t == gis::kFieldDouble;
}

// "" for polygons; otherwise what the layer holds. A layer that does not
// state one kind (GeoJSON mixing Polygon and MultiPolygon) is judged by its
// first shapes.
std::string NotPolygons(const gis::Table& fc) {
    if (!fc.HasShape()) return "no shapes";
    switch (fc.ShapeType()) {
        case gis::kGeomPolygon: return "";
        case gis::kGeomPoint:
        case gis::kGeomMultipoint: return "points";
        case gis::kGeomPolyline: return "lines";
        default: break;
    }
    gis::QueryFilter all;
    auto cursor = fc.Search(&all, true);
    int seen = 0;
    for (auto row = cursor->NextRow(); row && seen < 100; row = cursor->NextRow()) {
        const OGRGeometry* g = row->ShapeRef();
        if (!g) continue;
        ++seen;
        auto t = wkbFlatten(g->getGeometryType());
        if (t != wkbPolygon && t != wkbMultiPolygon) return "a mix of shapes";
    }
    return "";
}

struct LayerEntry {
    pugi::xml_node node;
    DatasetLayer def;  // as the loader reads it, without its srs
    gis::FeatureClassPtr fc;
};

struct DatasetEntry {
    pugi::xml_node node;
    std::string name;
    std::vector<LayerEntry> layers;  // the first of each name
    LayerEntry* Find(const std::string& name) {
        for (auto& l : layers)
            if (IEquals(l.def.name, name)) return &l;
        return nullptr;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (auto& l : layers) names.push_back(l.def.name);
        return names;
    }
};

struct Opened {
    gis::FeatureClassPtr fc;
    std::string error;
};

class Checker {
public:
    explicit Checker(std::string file) : file_(std::move(file)) {}

    std::vector<ConfigProblem> Run() {
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

private:
    std::string file_;
    fs::path base_;
    std::string text_;    // the file as it is, for line numbers
    std::string buffer_;  // the same text, parsed in place
    std::vector<size_t> lineStarts_;
    pugi::xml_document doc_;
    pugi::xml_node root_;
    std::vector<ConfigProblem> problems_;
    std::vector<DatasetEntry> datasets_;
    std::map<std::string, Opened> opened_;  // by what was opened
    std::set<const LayerEntry*> noKeyReported_;

    void Add(int line, std::string message) { problems_.push_back({file_, line, std::move(message)}); }

    int LineAt(ptrdiff_t offset) const {
        if (offset < 0) return 0;
        auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), static_cast<size_t>(offset));
        return static_cast<int>(it - lineStarts_.begin());
    }
    int Line(const pugi::xml_node& n) const { return n ? LineAt(n.offset_debug()) : 0; }
    // Attribute names point into the buffer parsed in place.
    int Line(const pugi::xml_attribute& a, const pugi::xml_node& owner) const {
        const char* p = a ? a.name() : nullptr;
        if (p && p >= buffer_.data() && p < buffer_.data() + buffer_.size()) return LineAt(p - buffer_.data());
        return Line(owner);
    }
    int Line(const pugi::xml_node& owner, const char* attribute) const {
        return Line(owner.attribute(attribute), owner);
    }

    bool Load() {
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

    // Unknown elements and attributes, missing names, flags that are not
    // True or False, tasks nested too deep. Walked with a stack of its own
    // so that no nesting can exhaust the call stack.
    void CheckStructure() {
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

    void CheckContents() {
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

    void CheckCurrent() {
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

    // Analyses kept in a database go to the current dataset's.
    void CheckDataFormat(const DatasetEntry& current) {
        for (auto s : root_.child("Settings").children("Setting"))
            if (std::string(s.attribute("name").value()) == "Data Format" &&
                std::string(s.attribute("value").value()) == "PostGIS" && !DataAttributes::Of(current.node).NamesDatabase())
                Add(Line(s), "The Data Format PostGIS writes the analyses into the database of the current dataset, and " +
                                 Quote(current.name) + " is not in a database; give it one or choose Shapefile");
    }

    // ---------------- layers ----------------

    void CheckLayers(DatasetEntry& ds) {
        auto d = ds.node;
        auto attributes = DataAttributes::Of(d);
        std::string dataPath, dataProblem;
        try {
            dataPath = ResolveDataPath(attributes, base_.string());
        } catch (const std::exception& e) {
            dataProblem = OneLine(e.what());
        }
        bool database = attributes.NamesDatabase();

        bool needWorkspace = false;
        for (auto l : d.children("Layer")) {
            std::string name = l.attribute("name").value();
            if (!l.attribute("source")) needWorkspace = true;
            if (Trim(name).empty()) continue;  // reported with the structure
            if (auto first = ds.Find(name)) {
                Add(Line(l), "Another layer of the dataset is already named " + name + " (line " +
                                 std::to_string(Line(first->node)) + "); give each its own name");
                continue;
            }
            LayerEntry e;
            e.node = l;
            e.def.name = name;
            e.def.datasetName = l.attribute("dataset").as_string(name.c_str());
            e.def.idField = l.attribute("idField").value();
            e.def.descField = l.attribute("descField").value();
            if (auto src = l.attribute("source")) e.def.source = ResolveLayerSource(src.value(), base_.string());
            ds.layers.push_back(std::move(e));
        }

        gis::WorkspacePtr ws;
        if (needWorkspace) {
            int line = d.attribute("data") ? Line(d, "data") : Line(d);
            std::error_code ec;
            if (!dataProblem.empty()) {
                Add(line, "The data of the dataset " + Quote(ds.name) + " cannot be used: " + dataProblem);
            } else if (!database && !fs::exists(dataPath, ec)) {
                Add(line, "The data folder " + dataPath + " of the dataset " + Quote(ds.name) +
                              " does not exist; its layers without a source are read from it");
            } else {
                try {
                    ws = gis::Workspace::OpenData(dataPath);
                } catch (const std::exception& e) {
                    Add(line, "The data of the dataset " + Quote(ds.name) + " cannot be opened: " + OneLine(e.what()));
                }
            }
        }

        for (auto& layer : ds.layers) {
            if (layer.def.source.empty() && !ws) continue;  // the data folder is reported
            std::string key = layer.def.source.empty() ? dataPath + "|" + layer.def.datasetName : layer.def.source;
            auto it = opened_.find(key);
            if (it == opened_.end()) {
                Opened o;
                try {
                    o.fc = DataWorkspace::OpenLayer(layer.def, ws);
                } catch (const std::exception& e) {
                    o.error = OneLine(e.what());
                }
                it = opened_.emplace(key, std::move(o)).first;
            }
            if (!it->second.fc) {
                auto l = layer.node;
                int line = l.attribute("source") ? Line(l, "source") : l.attribute("dataset") ? Line(l, "dataset") : Line(l);
                Add(line, "The layer " + layer.def.name + " cannot be opened: " + it->second.error);
                continue;
            }
            layer.fc = it->second.fc;
            CheckLayerData(layer);
        }
    }

    void CheckLayerData(const LayerEntry& layer) {
        auto l = layer.node;
        const auto& fc = *layer.fc;
        if (auto srs = l.attribute("srs")) {
            gis::SpatialReferencePtr given;
            try {
                given = gis::SpatialReference::FromUserInput(srs.value());
            } catch (const std::exception&) {
                Add(Line(srs, l), "The srs " + Quote(srs.value()) + " of the layer " + layer.def.name +
                                      " is not a coordinate system GDAL knows; give one as \"EPSG:N\"");
            }
            // srs is for layers without one; stating another over the file's
            // own would move every area without a word.
            auto own = fc.GetSpatialReference();
            if (given && own && !own->IsEmpty() && !own->IsSame(*given))
                Add(Line(srs, l), "The layer " + layer.def.name + " has its own coordinate system " + own->Name() +
                                      ", not " + srs.value() + ": remove srs, or correct the layer's own if that is wrong");
        } else {
            auto sr = fc.GetSpatialReference();
            if (!sr || sr->IsEmpty())
                Add(Line(l), "The layer " + layer.def.name + " (" + fc.DataPath() +
                                 ") has no coordinate system: add srs=\"EPSG:N\" to its Layer element"
                                 " (or give --srs to plexa dataset init)");
        }
        for (const char* attribute : {"idField", "descField"}) {
            auto a = l.attribute(attribute);
            if (a && fc.FindField(a.value()) < 0)
                Add(Line(a, l), "The " + std::string(attribute) + " " + a.value() + " is not a field of the layer " +
                                    layer.def.name + FieldSuggestion(fc, a.value()));
        }
    }

    static std::string FieldSuggestion(const gis::Table& fc, const std::string& name) {
        std::vector<std::string> names;
        auto fields = fc.GetFields();
        for (long i = 0; i < fields->FieldCount(); ++i) names.push_back(fields->GetField(i)->name);
        return Suggestion(name, names);
    }

    // ---------------- geography levels ----------------

    void CheckLevels(DatasetEntry& ds) {
        for (auto t : ds.node.children("Task")) {
            if (std::string(t.attribute("name").value()) != "CustomerProspecting") continue;
            std::map<std::string, int> captions;  // by way and caption
            for (auto level : t.children("Task")) {
                std::string name = level.attribute("name").value();
                std::string caption = level.attribute("caption").as_string(name.c_str());
                if (name == kByLayer || name == kHousehold)
                    if (auto [it, fresh] = captions.emplace(name + "|" + caption, Line(level)); !fresh)
                        Add(Line(level), "Another level of this way is already called " + Quote(caption) + " (line " +
                                             std::to_string(it->second) + "); only the first can be chosen");
                if (name == kByLayer || name == kHousehold) CheckLevel(ds, level, name == kHousehold);
            }
        }
    }

    void CheckLevel(DatasetEntry& ds, const pugi::xml_node& task, bool household) {
        std::string caption = task.attribute("caption").as_string(task.attribute("name").value());
        std::string label = "the level " + Quote(caption);
        pugi::xml_node param;
        for (auto p : task.children("Param"))
            if (std::string(p.attribute("key").value()) == "MainLayer") {
                param = p;
                break;
            }
        LayerEntry* layer = nullptr;
        if (!param) {
            Add(Line(task), "The level " + Quote(caption) + " has no MainLayer: add <Param key=\"MainLayer\" value=\"LAYER\"/>"
                                                           " naming one of the dataset's layers (" + List(ds.Names()) + ")");
        } else {
            std::string main = param.attribute("value").value();
            layer = ds.Find(main);
            if (!layer)
                Add(Line(param, "value"), "The MainLayer " + Quote(main) + " of " + label + " is not a layer of the dataset " +
                                              Quote(ds.name) + " (layers: " + List(ds.Names()) + ")" +
                                              Suggestion(main, ds.Names()));
        }
        if (layer && layer->fc) {
            std::string kind = NotPolygons(*layer->fc);
            if (!kind.empty())
                Add(Line(param, "value"), "The layer " + layer->def.name + " (" + layer->fc->DataPath() + ") of " + label +
                                              " holds " + kind + "; a geography level needs polygons");
        }
        if (household) {
            // The service counts households by its own kinds of area.
            static const std::set<std::string> known = {"BLOCK GROUP", "TRACT", "ZIP CODE", "COUNTY", "STATE"};
            std::string level = task.attribute("level").as_string(caption.c_str());
            if (!known.count(UCase(Trim(level))))
                Add(Line(task), "The household level " + Quote(caption) + " is of the kind " + Quote(level) +
                                    ", which the household-data service does not count by: give it level=\"Block group\", "
                                    "\"Tract\", \"ZIP code\", \"County\" or \"State\"");
            if (layer && layer->def.idField.empty() && noKeyReported_.insert(layer).second)
                Add(Line(layer->node), "The layer " + layer->def.name + " has no idField, on which the household level " + Quote(caption) +
                                           " joins: add idField=\"FIELD\" to its Layer element");
            return;  // household targets are codes of the service, not fields
        }
        CheckByLayer(task, label, layer && layer->fc ? layer : nullptr);
    }

    // A field a level reads from its main layer; role says what it is for
    // ("number of the target ..."). Counts must be numbers.
    void CheckField(const LayerEntry* layer, int line, const std::string& name, const std::string& role, bool numeric) {
        if (!layer) return;
        long i = layer->fc->FindField(name);
        if (i < 0) {
            Add(line, "The field " + Quote(name) + " (" + role + ") is not on the layer " + layer->def.name +
                          FieldSuggestion(*layer->fc, name));
            return;
        }
        auto type = layer->fc->GetFields()->GetField(i)->type;
        if (numeric && !IsNumeric(type))
            Add(line, "The field " + Quote(name) + " (" + role + ") of the layer " + layer->def.name + " is " +
                          Describe(type) + "; target fields must be numbers");
    }

    void CheckByLayer(const pugi::xml_node& task, const std::string& label, const LayerEntry* layer) {
        for (auto f : task.child("AdditionalFields").children("Field")) {
            std::string name = Trim(f.text().as_string());
            if (name.empty()) Add(Line(f), "An AdditionalFields <Field> of " + label + " is empty; put a field name in it");
            else CheckField(layer, Line(f), name, "additional field of " + label, false);
        }
        auto yearList = task.child("Years").children("Year");
        size_t years = static_cast<size_t>(std::distance(yearList.begin(), yearList.end()));
        size_t lastYear = std::max<size_t>(years, 1);
        if (years > kDataPageYears)
            Add(Line(task.child("Years")), "The " + label.substr(4) + " has " + std::to_string(years) +
                                               " years; the data page offers " + std::to_string(kDataPageYears) +
                                               ": keep the last ones in a level of their own");

        std::map<std::string, int> ids;
        for (auto c : task.children("Category")) {
            std::string id = c.attribute("id").value();
            if (auto [it, fresh] = ids.emplace(id, Line(c)); !fresh)
                Add(Line(c), "Another category of " + label + " already has the id " + Quote(id) + " (line " +
                                 std::to_string(it->second) + "); give each its own");
            std::map<std::string, int> names;
            for (auto t : c.children("Target"))
                if (auto [it, fresh] = names.emplace(t.attribute("name").value(), Line(t)); !fresh)
                    Add(Line(t), "Another target of the category " + Quote(id) + " is already named " +
                                     Quote(it->first) + " (line " + std::to_string(it->second) + "); give each its own");
            auto targetList = c.children("Target");
            size_t targets = static_cast<size_t>(std::distance(targetList.begin(), targetList.end()));
            if (targets > kDataPageRows)
                Add(Line(c), "The category " + Quote(id) + " of " + label + " has " + std::to_string(targets) +
                                 " targets; the data page shows " + std::to_string(kDataPageRows) + ": split it");
            for (auto t : c.children("Target")) CheckTarget(t, label, layer, lastYear, years);
        }
    }

    void CheckTarget(const pugi::xml_node& t, const std::string& label, const LayerEntry* layer, size_t lastYear,
                     size_t years) {
        std::string target = "target " + Quote(t.attribute("name").value());
        if (!t.child("Field")) {
            Add(Line(t), "The " + target + " of " + label + " has no <Field>: add <Field year=\"1\" number=\"FIELD\"/>");
            return;
        }
        std::set<std::string> percentYears;
        for (auto f : t.children("Field"))
            if (f.attribute("percent")) percentYears.insert(f.attribute("year").as_string("1"));
        bool canPercent = std::string(t.attribute("CanPercent").value()) == "True";
        for (auto f : t.children("Field")) {
            std::string year = f.attribute("year").as_string("1");
            int y = 0;
            auto [end, ec] = std::from_chars(year.data(), year.data() + year.size(), y);
            if (ec != std::errc() || end != year.data() + year.size() || y < 1 || static_cast<size_t>(y) > lastYear) {
                std::string range = years == 0 ? "1 (the level has no <Years>)"
                                               : "from 1 to " + std::to_string(years) + " (the level's <Years>)";
                Add(Line(f, "year"), "The year " + Quote(year) + " of a <Field> of the " + target + " must be " + range);
            }
            auto number = f.attribute("number");
            if (!number) Add(Line(f), "A <Field> of the " + target + " has no number: add number=\"FIELD\"");
            else CheckField(layer, Line(number, f), number.value(), "number of the " + target, true);
            if (auto percent = f.attribute("percent"))
                CheckField(layer, Line(percent, f), percent.value(), "percent base of the " + target, true);
            if (canPercent && number && !percentYears.count(year))
                Add(Line(f), "The " + target + " has CanPercent=\"True\" but no percent field for year " + year +
                                 ": add percent=\"FIELD\" to this <Field> or set CanPercent=\"False\"");
        }
    }
};

}  // namespace

std::vector<ConfigProblem> CheckConfiguration(const std::string& path) {
    try {
        gis::EnsureGdal();
        return Checker(path).Run();
    } catch (...) {
        return {{path, 0, "The configuration could not be checked"}};
    }
}

}  // namespace host
