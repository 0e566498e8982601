#include "host/framework/DatasetInit.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "host/Object.h"
#include "host/framework/DatasetInitPlan.h"
#include "host/gis/Gdal.h"
#include "host/gis/LayerSource.h"
#include "host/gis/PgConnection.h"
#include "host/gis/SpatialReference.h"

namespace fs = std::filesystem;

namespace host {

namespace {

// A name safe as an identifier: letters, digits and underscores.
std::string LayerNameFor(const std::string& caption, std::set<std::string>& used) {
    std::string name;
    for (unsigned char ch : caption) {
        if (std::isalnum(ch) || ch == '_') name += static_cast<char>(ch);
        else if (!name.empty() && name.back() != '_') name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    if (name.empty()) name = "Level";
    if (std::isdigit(static_cast<unsigned char>(name.front()))) name = "L" + name;
    std::string unique = name;
    for (int n = 2; used.count(UCase(unique)); ++n) unique = name + "_" + std::to_string(n);
    used.insert(UCase(unique));
    return unique;
}

// The layer's file relative to the configuration's folder when it lies
// under it, else absolute; the layer name is kept.
std::string SourceFor(const std::string& source, const std::string& outPath) {
    auto ls = gis::LayerSource::Parse(source);
    if (gis::PgConnection::IsConnectionString(ls.file)) return source;  // a table of a database
    fs::path file = fs::absolute(ls.file).lexically_normal();
    ls.file = file.string();
    if (!outPath.empty()) {
        fs::path folder = fs::absolute(outPath).parent_path().lexically_normal();
        fs::path rel = file.lexically_relative(folder);
        if (!rel.empty() && *rel.begin() != "..") ls.file = rel.generic_string();
    }
    return ls.ToString();
}

}  // namespace

std::string MakeDatasetConfiguration(const DatasetInitOptions& options) {
    gis::EnsureGdal();
    if (Trim(options.name).empty()) Raise(kErrInvalidCall, "The dataset needs a name: give it with --name");
    if (options.levels.empty()) Raise(kErrInvalidCall, "Give at least one level as --level \"CAPTION=PATH\"");
    gis::SpatialReferencePtr srs;
    if (!options.srs.empty()) {
        try {
            srs = gis::SpatialReference::FromUserInput(options.srs);
        } catch (const RuntimeError&) {
            Raise(kErrInvalidCall, "--srs " + options.srs + " is not a coordinate system GDAL knows: give one as EPSG:N");
        }
    }

    if (options.years.size() > 3)
        Raise(kErrInvalidCall, "--years names " + std::to_string(options.years.size()) +
                                   " periods; the data page offers three: name at most three");

    std::vector<LevelPlan> levels;
    std::set<std::string> captions, layerNames;
    for (auto& level : options.levels) {
        if (Trim(level.caption).empty() || Trim(level.source).empty())
            Raise(kErrInvalidCall, "A level needs a caption and a layer: --level \"CAPTION=PATH\" (got \"" +
                                       level.caption + "=" + level.source + "\")");
        if (!captions.insert(UCase(level.caption)).second)
            Raise(kErrInvalidCall, "Two levels are called " + level.caption + ": give each level its own caption");
        LevelPlan plan = ReadLevel(level, options, srs);
        plan.layerName = LayerNameFor(level.caption, layerNames);
        plan.source = SourceFor(level.source, options.outPath);
        levels.push_back(std::move(plan));
    }

    if (!options.years.empty() &&
        std::all_of(levels.begin(), levels.end(), [](const LevelPlan& l) { return l.years == std::vector<std::string>{"Current"}; }))
        Raise(kErrInvalidCall, "--years chooses among the periods of fields named by period (POP1990, POP2000), and no level has such fields: leave out --years");
    return WriteConfiguration(options, levels);
}

}  // namespace host
