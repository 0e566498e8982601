#include "host/framework/ReportBuilder.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "host/gis/Cursor.h"
#include "host/gis/MapDrawing.h"
#include "host/gis/Row.h"
#include "host/gis/Table.h"
#include "host/platform/Locale.h"

namespace fs = std::filesystem;

namespace host::report {

namespace {

QueryDescriber& Describer() {
    static QueryDescriber describer;
    return describer;
}

// The text a key is compared by: numbers as C numbers, so that 37131 and
// "37131" meet.
std::string KeyText(const Variant& v) { return v.IsNumber() ? platform::FormatCNumber(v.ToDouble()) : v.ToString(); }

std::string CellText(const Variant& v) {
    if (v.IsEmpty() || v.IsNothing()) return "";
    return v.IsNumber() ? FormatReportNumber(v.ToDouble()) : v.ToString();
}

std::string Property(const ReportInputs& in, const std::string& name) {
    if (in.analysis && in.analysis->Properties() && in.analysis->Properties()->HasProperty(name))
        return in.analysis->GetProperty(name).ToString();
    return in.pageSettings ? in.pageSettings->GetProperty(name).ToString() : "";
}

std::string Now() {
    auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::ostringstream s;
    s << std::put_time(std::localtime(&now), "%Y-%m-%d %H:%M");
    return s.str();
}

// Field names compared without regard to case: a database keeps "fips"
// where the configuration and the shapefile say "FIPS".
struct FieldNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
            return std::tolower(x) < std::tolower(y);
        });
    }
};

// One area of a table: its values by field name.
using Values = std::map<std::string, Variant, FieldNameLess>;

Values ReadRow(const gis::Row& row) {
    Values v;
    auto fields = row.GetFields();
    for (long i = 0; i < fields->FieldCount(); ++i) {
        auto f = fields->GetField(i);
        if (f->type != gis::kFieldGeometry) v[f->name] = row.Value(i);
    }
    return v;
}

const Variant* Find(const Values& values, const std::string& field) {
    auto it = values.find(field);
    return it == values.end() ? nullptr : &it->second;
}

// The picture of a map as the bytes of a PNG file.
std::string DrawMap(const gis::Map& map, const std::string& title, int width, int height) {
    static std::atomic<int> serial{0};
    fs::path path = fs::temp_directory_path() /
                    ("plexa-report-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".png");
    std::string bytes;
    try {
        gis::RenderMapToPng(map, path.string(), width, height, {title, ""});
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (...) {
        bytes.clear();
    }
    std::error_code ec;
    fs::remove(path, ec);
    return bytes;
}

void AddClasses(const gis::ClassBreaksRenderer& r, const std::vector<Values>& found, ReportContent& out) {
    for (size_t i = 0; i < r.breaks.size(); ++i) {
        ReportClass c;
        c.label = i < r.labels.size() ? r.labels[i] : "";
        c.lower = i == 0 ? r.minimum : r.breaks[i - 1];
        c.upper = r.breaks[i];
        if (i < r.colors.size()) c.red = r.colors[i].r, c.green = r.colors[i].g, c.blue = r.colors[i].b;
        out.classes.push_back(c);
    }
    // A value falls into the first class whose upper bound it does not pass,
    // as the renderer draws it.
    for (auto& area : found) {
        const Variant* v = Find(area, r.field);
        if (!v || !v->IsNumber()) continue;
        for (size_t i = 0; i < r.breaks.size(); ++i)
            if (v->ToDouble() <= r.breaks[i]) {
                ++out.classes[i].count;
                break;
            }
    }
}

}  // namespace

void SetQueryDescriber(QueryDescriber describer) { Describer() = std::move(describer); }
const QueryDescriber& GetQueryDescriber() { return Describer(); }

TaskEntryPtr FindLevelEntry(const Dataset& dataset, const std::string& levelCaption, bool demographic) {
    const std::string kind = demographic ? "CustomerProspecting.ByLayer" : "CustomerProspecting.Household";
    for (auto& task : dataset.tasks) {
        if (task->name != "CustomerProspecting") continue;
        for (auto& e : task->subEntries)
            if (e->name == kind && e->caption == levelCaption) return e;
    }
    return nullptr;
}

ReportInputs AnalysisReportInputs(const DataManager& dm, Extension* ext, const AnalysisPtr& analysis,
                                  const PropertySetPtr& pageSettings) {
    ReportInputs in;
    in.analysis = analysis;
    in.pageSettings = pageSettings;
    std::string datasetName = ext ? ext->CurrentDatasetName() : "";
    for (long i = 0; i < dm.DatasetCount(); ++i)
        if (dm.GetDataset(i)->name == datasetName || (datasetName.empty() && i == 0)) in.dataset = dm.GetDataset(i);
    if (!in.dataset) return in;
    auto entry = FindLevelEntry(*in.dataset, Property(in, "DemographyLevelName"),
                                Property(in, "DemogOrHouseholdWay") != "False");
    std::string mainLayer = entry ? entry->Param("MainLayer") : "";
    in.levelLayer = in.dataset->LayerByName(mainLayer);
    in.levelCaption = in.levelLayer && !in.levelLayer->caption.empty() ? in.levelLayer->caption : mainLayer;
    if (ext && !mainLayer.empty()) {
        // Without the level's areas the report still tells what was found.
        try {
            if (auto q = ext->GetDataQuery(mainLayer)) in.level = q->featureClass;
        } catch (...) {
        }
        in.studyArea = ext->BoundingGeometry();
    }
    return in;
}

gis::Map ReportMap(const ReportInputs& in) {
    gis::Map map;
    map.name = in.analysis ? in.analysis->Name() : "Report";
    if (in.result) map.AddLayer(in.result);
    if (in.level) {
        auto level = std::make_shared<gis::FeatureLayer>();
        level->featureClass = in.level;
        level->name = in.levelCaption.empty() ? "Areas" : in.levelCaption;
        auto r = std::make_shared<gis::SimpleRenderer>();
        r->fill = {238, 238, 232};
        r->outlineColor = {150, 150, 150};
        r->label = level->name;
        level->renderer = r;
        map.AddLayer(level);
    }
    // The desktop zooms to the result with a tenth around it.
    gis::Envelope e = in.result && in.result->featureClass ? in.result->featureClass->Extent() : gis::Envelope{};
    if (e.empty && in.level) e = in.level->Extent();
    if (!e.empty) e.Expand(1.1, 1.1);
    map.extent = e;
    if (in.result && in.result->featureClass) map.spatialReference = in.result->featureClass->GetSpatialReference();
    if (!map.spatialReference && in.level) map.spatialReference = in.level->GetSpatialReference();
    return map;
}

ReportContent BuildReportContent(const ReportInputs& in) {
    ReportContent out;
    out.name = in.analysis ? in.analysis->Name() : (in.result ? in.result->name : "");
    out.comment = Property(in, "Comments");
    out.date = in.date.empty() ? Now() : in.date;
    out.dataset = in.dataset ? in.dataset->name : "";
    out.level = Property(in, "DemographyLevelName");
    if (out.level.empty()) out.level = in.levelCaption;
    bool demographic = Property(in, "DemogOrHouseholdWay") != "False";

    ReportQuery query;
    TaskEntryPtr entry = in.dataset ? FindLevelEntry(*in.dataset, out.level, demographic) : nullptr;
    if (in.analysis && in.dataset && GetQueryDescriber())
        if (!GetQueryDescriber()(*in.analysis, *in.dataset, entry, query)) query = {};
    out.way = query.way;
    out.year = query.year;
    out.criteria = query.criteria;
    out.profile = query.profile;

    // The areas found, as the result holds them.
    std::string keyField = in.levelLayer ? in.levelLayer->idField : "";
    std::string nameField = in.levelLayer ? in.levelLayer->descField : "";
    std::vector<Values> found;
    if (in.result && in.result->featureClass) {
        auto cursor = in.result->featureClass->Search(nullptr, true);
        while (auto row = cursor->NextRow()) found.push_back(ReadRow(*row));
    }
    out.areasFound = static_cast<long>(found.size());
    std::string resultKey = !found.empty() && !Find(found.front(), keyField) && Find(found.front(), "KEY") ? "KEY" : keyField;

    // The level's areas of the study area, by key: what the result lacks
    // (names, percent bases) and the study area's totals.
    std::map<std::string, Values> level;
    std::map<std::string, double> whole;
    if (in.level) {
        gis::QueryFilter filter;
        filter.geometry = in.studyArea;
        auto cursor = in.level->Search(in.studyArea ? &filter : nullptr, true);
        long count = 0;
        while (auto row = cursor->NextRow()) {
            Values v = ReadRow(*row);
            ++count;
            for (auto& f : query.fields)
                if (const Variant* x = Find(v, f.name); x && f.count && x->IsNumber()) whole[f.name] += x->ToDouble();
            if (const Variant* k = Find(v, keyField)) level[KeyText(*k)] = std::move(v);
        }
        out.areasTotal = count;
    }
    auto valueOf = [&](const Values& area, const std::string& field) -> const Variant* {
        if (const Variant* v = Find(area, field)) return v;
        const Variant* k = Find(area, resultKey);
        if (!k) return nullptr;
        auto it = level.find(KeyText(*k));
        return it == level.end() ? nullptr : Find(it->second, field);
    };

    // The table of the areas found, in key order.
    out.areas.columns = {keyField.empty() ? "Key" : keyField, "Name"};
    out.areas.numeric = {false, false};
    for (auto& f : query.fields) {
        out.areas.columns.push_back(f.caption.empty() ? f.name : f.caption);
        out.areas.numeric.push_back(true);
    }
    for (auto& area : found) {
        const Variant* k = Find(area, resultKey);
        const Variant* n = valueOf(area, nameField);
        std::vector<std::string> row = {k ? CellText(*k) : "", n ? CellText(*n) : ""};
        for (auto& f : query.fields) {
            const Variant* v = valueOf(area, f.name);
            row.push_back(v ? CellText(*v) : "");
        }
        out.areas.rows.push_back(std::move(row));
    }
    std::stable_sort(out.areas.rows.begin(), out.areas.rows.end(),
                     [](const auto& a, const auto& b) { return a[0] < b[0]; });

    // The summary.
    for (auto& f : query.fields) {
        if (!f.count) continue;
        ReportTotal t;
        t.field = f.name;
        t.caption = f.caption.empty() ? f.name : f.caption;
        for (auto& area : found)
            if (const Variant* v = valueOf(area, f.name); v && v->IsNumber()) t.found += v->ToDouble();
        if (auto it = query.wholeTotals.find(f.name); it != query.wholeTotals.end()) t.whole = it->second;
        else if (auto w = whole.find(f.name); w != whole.end()) t.whole = w->second;
        out.totals.push_back(t);
    }

    if (in.result)
        if (auto r = std::dynamic_pointer_cast<gis::ClassBreaksRenderer>(in.result->renderer)) AddClasses(*r, found, out);

    if (in.mapWidth > 0 && in.mapHeight > 0) {
        out.mapPng = DrawMap(ReportMap(in), out.name, in.mapWidth, in.mapHeight);
        if (!out.mapPng.empty()) out.mapWidth = in.mapWidth, out.mapHeight = in.mapHeight;
    }
    return out;
}

}  // namespace host::report
