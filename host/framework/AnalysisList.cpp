#include "host/framework/AnalysisList.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "host/gis/LayerSource.h"
#include "host/gis/Map.h"

namespace fs = std::filesystem;

namespace host {

namespace {

std::string LocalTime(fs::file_time_type t) {
    auto sys = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        t - fs::file_time_type::clock::now() + std::chrono::system_clock::now());
    std::time_t tt = std::chrono::system_clock::to_time_t(sys);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

std::string IfFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) ? p.string() : std::string();
}

bool Under(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() < folder.size()) return false;
    return fs::path(path).lexically_normal().string().rfind(fs::path(folder).lexically_normal().string(), 0) == 0;
}

}  // namespace

AnalysisSummary Summarize(const Analysis& analysis) {
    AnalysisSummary s;
    s.name = analysis.Name();
    s.folder = analysis.Folder();
    s.comment = analysis.GetProperty("Comments").ToString();
    fs::path folder(s.folder);
    if (auto dmq = IfFile(folder / "AnalysisParams.dmq"); !dmq.empty()) {
        s.kind = "Demographic";
        s.queryFile = dmq;
    } else if (auto hhq = IfFile(folder / "AnalysisParams.hhq"); !hhq.empty()) {
        s.kind = "Household";
        s.queryFile = hhq;
    } else if (auto way = analysis.GetProperty("DemogOrHouseholdWay").ToString(); !way.empty()) {
        // A household analysis run on a linked table keeps no query file;
        // the way it was made is still among its properties.
        s.kind = way == "True" ? "Demographic" : "Household";
    }
    // The query file is written when the analysis runs; later changes to
    // the analysis's properties do not make it newer.
    std::error_code ec;
    fs::path stamp = s.queryFile.empty() ? folder / "analysis.xml" : fs::path(s.queryFile);
    auto t = fs::last_write_time(stamp, ec);
    if (!ec) s.date = LocalTime(t);
    s.level = analysis.GetProperty("DemographyLevelName").ToString();
    // The output it registered: a file in its folder or a table in a database.
    if (!analysis.Layers().empty()) {
        try {
            s.areas = gis::OpenLayerSource(gis::LayerSource::Parse(analysis.Layers().front()))->RowCount(nullptr);
        } catch (const std::exception&) {
            s.areas = -1;
        }
    }
    s.reportText = IfFile(folder / "Report.txt");
    s.reportTable = IfFile(folder / "Report.csv");
    s.beingMade = fs::exists(folder / ".incomplete", ec);
    return s;
}

std::vector<AnalysisSummary> ListAnalyses(const DataManager& dataManager) {
    std::vector<AnalysisSummary> out;
    for (const auto& name : dataManager.AnalysisNames())
        if (auto a = dataManager.GetAnalysis(name)) out.push_back(Summarize(*a));
    std::sort(out.begin(), out.end(), [](const AnalysisSummary& a, const AnalysisSummary& b) { return a.name < b.name; });
    return out;
}

std::vector<AnalysisSummary> ListAnalysesNow(DataManager& dataManager) {
    dataManager.Reread();
    return ListAnalyses(dataManager);
}

const AnalysisSummary* FindInList(const std::vector<AnalysisSummary>& list, const std::string& name) {
    for (const auto& a : list)
        if (IEquals(a.name, name)) return &a;
    return nullptr;
}

std::string NamesOf(const std::vector<AnalysisSummary>& list) {
    std::string names;
    for (const auto& a : list) names += (names.empty() ? "\"" : ", \"") + a.name + "\"";
    return names.empty() ? "none" : names;
}

std::vector<gis::LayerPtr> LayersOfAnalysis(const gis::Map& map, const Analysis& analysis) {
    std::vector<gis::LayerPtr> out;
    for (auto& l : map.AllLayers()) {
        auto fl = std::dynamic_pointer_cast<gis::FeatureLayer>(l);
        if (!fl || !fl->featureClass) continue;
        std::string path = fl->featureClass->DataPath();
        bool registered = std::find(analysis.Layers().begin(), analysis.Layers().end(), path) != analysis.Layers().end();
        if (registered || Under(path, analysis.Folder())) out.push_back(l);
    }
    return out;
}

std::vector<LayerPlace> PlacesOfAnalysisLayers(const gis::Map& map, const Analysis& analysis) {
    std::vector<LayerPlace> out;
    auto mine = LayersOfAnalysis(map, analysis);
    auto look = [&](const std::vector<gis::LayerPtr>& list, const std::shared_ptr<gis::GroupLayer>& group, auto& self) -> void {
        for (size_t i = 0; i < list.size(); ++i) {
            if (std::find(mine.begin(), mine.end(), list[i]) != mine.end()) out.push_back({list[i], group, i});
            if (auto g = std::dynamic_pointer_cast<gis::GroupLayer>(list[i])) self(g->layers, g, self);
        }
    };
    look(map.layers, nullptr, look);
    return out;
}

void PutBack(gis::Map& map, const std::vector<LayerPlace>& places) {
    auto all = map.AllLayers();
    for (const auto& p : places) {
        if (std::find(all.begin(), all.end(), p.layer) != all.end()) continue;
        auto& list = p.group ? p.group->layers : map.layers;
        // A group that left the map in the meantime gives the layer back to the top.
        bool groupInMap = !p.group || std::find(all.begin(), all.end(), p.group) != all.end();
        auto& into = groupInMap ? list : map.layers;
        into.insert(into.begin() + static_cast<long>(std::min(p.index, into.size())), p.layer);
    }
}

bool RemoveAnalysisAndLayers(DataManager& dataManager, gis::Map& map, const std::string& name) {
    auto analysis = dataManager.GetAnalysis(name);
    if (!analysis) return false;
    // The layers go first: they hold the files that are about to be removed.
    for (auto& l : LayersOfAnalysis(map, *analysis)) map.DeleteLayer(l);
    return dataManager.RemoveAnalysis(name);
}

void CopyPagePosition(const PropertySet& from, PropertySet& to) {
    for (const char* key : {"FormLeft", "FormTop", "FormWidth", "FormHeight"})
        if (from.HasProperty(key)) to.SetProperty(key, from.GetProperty(key));
}

}  // namespace host
