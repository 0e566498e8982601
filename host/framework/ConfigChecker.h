// The configuration check's own parts, shared by the files it is made of:
// the checker, what it knows of each layer and dataset as it goes, and the
// wording of its messages. Not for use outside the check.
#pragma once

#include <pugixml.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/framework/ConfigCheck.h"
#include "host/framework/DatasetConfig.h"
#include "host/Object.h"
#include "host/gis/Field.h"
#include "host/gis/Table.h"

namespace host::config_check {

namespace fs = std::filesystem;

// Tasks deeper than this are not read: nobody nests that far on purpose,
// and the loader walks tasks recursively.
inline constexpr int kMaxTaskDepth = 16;
// Rows of the demographic data page.
inline constexpr size_t kDataPageRows = 8;
// Year options of the data page.
inline constexpr size_t kDataPageYears = 3;

inline const char* const kByLayer = "CustomerProspecting.ByLayer";
inline const char* const kHousehold = "CustomerProspecting.Household";

// "; did you mean X?" when a known name is close enough to be the intent.
std::string Suggestion(const std::string& name, const std::vector<std::string>& known);
// "a, b, c", or "none".
std::string List(const std::vector<std::string>& names);
// An error's text on one line.
std::string OneLine(std::string s);
std::string Quote(const std::string& s);
// "text", "a date", "a number" ...: what a field of the type holds.
std::string Describe(gis::FieldType t);
bool IsNumeric(gis::FieldType t);
// "" for polygons; otherwise what the layer holds. A layer that does not
// state one kind (GeoJSON mixing Polygon and MultiPolygon) is judged by its
// first shapes.
std::string NotPolygons(const gis::Table& fc);

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

    // Every problem, in the order of the file.
    std::vector<ConfigProblem> Run();

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

    // The file and its structure.
    bool Load();
    // Unknown elements and attributes, missing names, flags that are not
    // True or False, tasks nested too deep. Walked with a stack of its own
    // so that no nesting can exhaust the call stack.
    void CheckStructure();
    void CheckContents();
    void CheckCurrent();
    // Analyses kept in a database go to the current dataset's.
    void CheckDataFormat(const DatasetEntry& current);

    // Layers: that they open, hold polygons and say where they are.
    void CheckLayers(DatasetEntry& ds);
    void CheckLayerData(const LayerEntry& layer);
    static std::string FieldSuggestion(const gis::Table& fc, const std::string& name);

    // Geography levels: their main layer and the fields they read.
    void CheckLevels(DatasetEntry& ds);
    void CheckLevel(DatasetEntry& ds, const pugi::xml_node& task, bool household);
    // A field a level reads from its main layer; role says what it is for
    // ("number of the target ..."). Counts must be numbers.
    void CheckField(const LayerEntry* layer, int line, const std::string& name, const std::string& role, bool numeric);
    void CheckByLayer(const pugi::xml_node& task, const std::string& label, const LayerEntry* layer);
    void CheckTarget(const pugi::xml_node& t, const std::string& label, const LayerEntry* layer, size_t lastYear,
                     size_t years);
};

}  // namespace host::config_check
