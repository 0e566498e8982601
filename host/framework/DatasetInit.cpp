#include "host/framework/DatasetInit.h"

#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <unordered_set>

#include <pugixml.hpp>

#include "host/Object.h"
#include "host/gis/Field.h"
#include "host/gis/Gdal.h"
#include "host/gis/LayerData.h"
#include "host/gis/LayerSource.h"
#include "host/gis/PgConnection.h"
#include "host/gis/SpatialReference.h"
#include "host/gis/Table.h"

namespace fs = std::filesystem;

namespace host {

namespace {

// The data page shows this many target rows at once.
constexpr size_t kTargetsPerCategory = 8;

bool StartsWith(const std::string& s, const std::string& p) { return s.size() >= p.size() && s.compare(0, p.size(), p) == 0; }
bool EndsWith(const std::string& s, const std::string& p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string s;
    for (auto& n : names) s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? "(none)" : s;
}

// The name without its trailing digits and underscores, upper case.
std::string Core(const std::string& name) {
    std::string u = UCase(name);
    while (!u.empty() && (std::isdigit(static_cast<unsigned char>(u.back())) || u.back() == '_')) u.pop_back();
    return u;
}

// CNTY_ID, OBJECTID, GEOID; not SID (sudden infant deaths).
bool EndsLikeId(const std::string& core) {
    return core == "ID" || EndsWith(core, "_ID") || (EndsWith(core, "ID") && core.size() >= 5);
}

// Names that say a field already holds a share or a statistic, or a key.
bool NamesShareOrStatistic(const std::string& name) {
    static const char* words[] = {"PCT", "PERC", "PERCENT", "RATE", "RATIO", "SHARE", "PROP", "AVG", "MEAN", "MED", "MEDIAN"};
    std::string c = Core(name);
    for (const char* w : words)
        if (StartsWith(c, w) || EndsWith(c, w)) return true;
    return EndsLikeId(c);
}

// 2 for a name that is a key by itself (FIPS, GEOID10), 1 for one that
// ends like a key (CNTY_ID, poltract), 0 otherwise.
int KeyNameScore(const std::string& name) {
    std::string c = Core(name);
    for (const char* w : {"GEOID", "FIPS", "KEY", "TRACT", "ID", "CODE"})
        if (c == w) return 2;
    for (const char* w : {"GEOID", "FIPS", "TRACT"})
        if (c.find(w) != std::string::npos) return 1;
    return EndsLikeId(c) || EndsWith(c, "CODE") || EndsWith(c, "KEY") ? 1 : 0;
}

// A field of a level's layer and what its values turned out to be.
struct FieldInfo {
    std::string name;
    long index = 0;  // host field index
    bool numeric = false;
    bool text = false;
    bool any = false;  // some value is set
    bool whole = true;
    bool nonNegative = true;
    bool keyCandidate = false;  // still distinct and filled in
    std::unordered_set<std::string> seen;
};

// Fields named STEM + year (BIR74, BIR79), ordered by year.
struct Family {
    std::string stem;
    std::vector<std::pair<std::string, std::string>> members;  // suffix as written, field
    std::string Member(const std::string& suffix) const {
        for (auto& [s, f] : members)
            if (s == suffix) return f;
        return "";
    }
};

std::vector<Family> FindFamilies(const std::vector<std::string>& names) {
    std::map<std::string, Family> byStem;
    std::vector<std::string> order;
    for (auto& n : names) {
        size_t start = n.size();
        while (start > 0 && std::isdigit(static_cast<unsigned char>(n[start - 1]))) --start;
        size_t digits = n.size() - start;
        std::string stem = n.substr(0, start);
        if ((digits != 2 && digits != 4) || std::none_of(stem.begin(), stem.end(), [](unsigned char ch) { return std::isalpha(ch); }))
            continue;
        auto [it, added] = byStem.try_emplace(UCase(stem));
        if (added) {
            it->second.stem = stem;
            order.push_back(UCase(stem));
        }
        if (it->second.Member(n.substr(start)).empty()) it->second.members.emplace_back(n.substr(start), n);
    }
    std::vector<Family> out;
    for (auto& key : order) {
        Family& f = byStem[key];
        if (f.members.size() < 2) continue;
        std::stable_sort(f.members.begin(), f.members.end(),
                         [](const auto& a, const auto& b) { return std::stoi(a.first) < std::stoi(b.first); });
        out.push_back(f);
    }
    return out;
}

struct TargetPlan {
    std::string name;
    std::vector<std::string> number;   // per year; empty when the year has none
    std::vector<std::string> percent;  // per year, for counts
    bool canPercent = false;
};

struct LevelPlan {
    std::string caption;
    std::string layerName;
    std::string source;  // as written
    std::string srs;     // written when the layer has none of its own
    std::string idField, descField;
    std::vector<std::string> years;
    std::vector<TargetPlan> targets;
    int geographicEpsg = -1;
};

class LevelReader {
public:
    LevelReader(const DatasetInitLevel& level, const DatasetInitOptions& options, const gis::SpatialReferencePtr& srs)
        : level_(level), options_(options), givenSrs_(srs), where_("The layer of level " + level.caption + " (" + level.source + ")") {}

    LevelPlan Read() {
        Open();
        CheckPolygons();
        plan_.caption = level_.caption;
        plan_.srs = CoordinateSystem();
        ListFields();
        ResolveGivenFields();
        Scan();
        ChooseKeyFields();
        PlanTargets();
        return plan_;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const { Raise(kErrInvalidCall, where_ + " " + what); }

    void Open() {
        try {
            fc_ = gis::OpenLayerSource(gis::LayerSource::Parse(level_.source));
        } catch (const RuntimeError& e) {
            Fail(std::string("cannot be opened: ") + e.what());
        }
    }

    void CheckPolygons() {
        if (!fc_->HasShape()) Fail("is a table without shapes, not polygons: a level needs the polygons of its areas");
        if (fc_->RowCount(nullptr) == 0) Fail("holds no areas");
        switch (fc_->ShapeType()) {
            case gis::kGeomPolygon: return;
            case gis::kGeomPoint:
            case gis::kGeomMultipoint: Fail("holds points, not polygons: a level needs the polygons of its areas");
            case gis::kGeomPolyline: Fail("holds lines, not polygons: a level needs the polygons of its areas");
            default: break;
        }
        // The layer does not say (GeoJSON of polygons and multipolygons): look at the shapes.
        std::set<std::string> kinds;
        auto cursor = fc_->Search(nullptr, true);
        while (auto row = cursor->NextRow()) {
            const OGRGeometry* g = row->ShapeRef();
            if (!g || g->IsEmpty()) continue;
            switch (wkbFlatten(g->getGeometryType())) {
                case wkbPolygon:
                case wkbMultiPolygon: kinds.insert("polygons"); break;
                case wkbPoint:
                case wkbMultiPoint: kinds.insert("points"); break;
                case wkbLineString:
                case wkbMultiLineString: kinds.insert("lines"); break;
                default: kinds.insert("other shapes"); break;
            }
        }
        if (kinds.size() == 1 && *kinds.begin() == "polygons") return;
        std::vector<std::string> list(kinds.begin(), kinds.end());
        Fail("holds " + (list.empty() ? std::string("no shapes") : JoinNames(list)) +
             ", not only polygons: a level needs the polygons of its areas");
    }

    static bool SameSystem(const gis::SpatialReference& a, const gis::SpatialReference& b) {
        if (a.EpsgCode() >= 0 && a.EpsgCode() == b.EpsgCode()) return true;
        const char* opts[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS", nullptr};
        return a.Ogr().IsSame(&b.Ogr(), opts) != 0;
    }

    static std::string Describe(const gis::SpatialReference& sr) {
        std::string s = sr.Name().empty() ? "(unnamed)" : sr.Name();
        return sr.EpsgCode() >= 0 ? s + " (EPSG:" + std::to_string(sr.EpsgCode()) + ")" : s;
    }

    static int GeographicEpsg(const gis::SpatialReference& sr) {
        auto g = sr.GeographicCoordinateSystem();
        if (g->EpsgCode() >= 0) return g->EpsgCode();
        OGRSpatialReference copy(g->Ogr());
        if (copy.AutoIdentifyEPSG() == OGRERR_NONE) {
            const char* auth = copy.GetAuthorityName(nullptr);
            const char* code = copy.GetAuthorityCode(nullptr);
            if (auth && code && std::string(auth) == "EPSG") return std::atoi(code);
        }
        return -1;
    }

    // The srs attribute to write: the given one for a layer without its own.
    std::string CoordinateSystem() {
        auto own = fc_->GetSpatialReference();
        // A GeoPackage without one says "Undefined geographic SRS" (srs_id 0)
        // or "Undefined cartesian SRS" (-1); neither places the areas.
        if (own && (own->IsEmpty() || own->Ogr().IsLocal() || StartsWith(UCase(own->Name()), "UNDEFINED ")))
            own = nullptr;
        if (!own) {
            if (!givenSrs_) Fail(gis::NoCoordinateSystem("with --srs EPSG:N"));
            plan_.geographicEpsg = GeographicEpsg(*givenSrs_);
            return options_.srs;
        }
        if (givenSrs_ && !SameSystem(*own, *givenSrs_)) {
            bool shapefile = LCase(fs::path(gis::LayerSource::Parse(level_.source).file).extension().string()) == ".shp";
            Fail("has its own coordinate system " + Describe(*own) + ", not " + options_.srs +
                 " given with --srs; its own is kept: leave out --srs, or correct the layer's coordinate system" +
                 (shapefile ? " (its .prj file)" : "") + " if that one is wrong");
        }
        plan_.geographicEpsg = GeographicEpsg(*own);
        return "";
    }

    void ListFields() {
        auto fields = fc_->GetFields();
        for (long i = 0; i < fields->FieldCount(); ++i) {
            const auto& f = fields->GetField(i);
            if (f->type == gis::kFieldOID || f->type == gis::kFieldGeometry) continue;
            FieldInfo info;
            info.name = f->name;
            info.index = i;
            info.numeric = f->type == gis::kFieldSmallInteger || f->type == gis::kFieldInteger ||
                           f->type == gis::kFieldSingle || f->type == gis::kFieldDouble;
            info.text = f->type == gis::kFieldString;
            fields_.push_back(std::move(info));
        }
    }

    FieldInfo* FindField(const std::string& name) {
        for (auto& f : fields_)
            if (IEquals(f.name, name)) return &f;
        return nullptr;
    }

    std::vector<std::string> Names(bool numericOnly) const {
        std::vector<std::string> out;
        for (auto& f : fields_)
            if (!numericOnly || f.numeric) out.push_back(f.name);
        return out;
    }

    std::string GivenField(const std::string& name, const char* option) {
        if (name.empty()) return "";
        if (auto f = FindField(name)) return f->name;
        Fail("has no field " + name + " (given with " + option + "); its fields are: " + JoinNames(Names(false)));
    }

    // The fields of the percent base: one field, or a family of them. Empty
    // without a base.
    std::vector<std::string> BaseFields(const std::vector<Family>& families) {
        const std::string& base = options_.baseField;
        if (base.empty()) return {};
        if (auto f = FindField(base)) {
            if (!f->numeric)
                Fail("has a field " + f->name + " (given with --base) that is not numeric: a percent base must be a count; its numeric fields are: " +
                     JoinNames(Names(true)));
            for (auto& fam : families)
                for (auto& m : fam.members)
                    if (IEquals(m.second, f->name)) return FamilyFields(fam);
            return {f->name};
        }
        for (auto& fam : families)
            if (IEquals(fam.stem, base)) return FamilyFields(fam);
        Fail("has no field " + base + " (given with --base); its numeric fields are: " + JoinNames(Names(true)));
    }

    static std::vector<std::string> FamilyFields(const Family& fam) {
        std::vector<std::string> out;
        for (auto& m : fam.members) out.push_back(m.second);
        return out;
    }

    void ResolveGivenFields() {
        plan_.idField = GivenField(options_.idField, "--id");
        plan_.descField = GivenField(options_.descField, "--desc");
        // Every field that may serve as a base, so that counts can be
        // measured against each in one pass.
        scanBases_ = BaseFields(FindFamilies(Names(true)));
        if (plan_.idField.empty())
            for (auto& f : fields_) f.keyCandidate = f.text || (f.numeric && KeyNameScore(f.name) > 0);
    }

    // One pass over the rows: which numbers are whole and not negative,
    // which fields could be keys, and which numbers exceed a base.
    void Scan() {
        std::vector<FieldInfo*> numbers;
        for (auto& f : fields_)
            if (f.numeric) numbers.push_back(&f);
        std::vector<long> baseIndex;
        for (auto& b : scanBases_) baseIndex.push_back(FindField(b)->index);
        std::vector<double> baseValue(baseIndex.size());
        std::vector<bool> baseSet(baseIndex.size());
        auto cursor = fc_->Search(nullptr, true);
        while (auto row = cursor->NextRow()) {
            for (size_t b = 0; b < baseIndex.size(); ++b) {
                Variant v = row->Value(baseIndex[b]);
                baseSet[b] = !v.IsEmpty();
                baseValue[b] = baseSet[b] ? v.ToDouble() : 0;
            }
            for (auto& f : fields_) {
                Variant v = row->Value(f.index);
                if (f.numeric && !v.IsEmpty()) {
                    double d = v.ToDouble();
                    f.any = true;
                    if (!std::isfinite(d) || std::floor(d) != d) f.whole = false;
                    if (d < 0) f.nonNegative = false;
                    for (size_t b = 0; b < baseIndex.size(); ++b)
                        if (baseSet[b] && d > baseValue[b]) exceeds_.insert({f.name, scanBases_[b]});
                }
                if (!f.keyCandidate) continue;
                std::string key;
                if (v.IsEmpty()) {
                    f.keyCandidate = false;
                } else if (f.text) {
                    key = Trim(v.ToString());
                    f.keyCandidate = !key.empty();
                } else {
                    double d = v.ToDouble();
                    f.keyCandidate = std::isfinite(d) && std::floor(d) == d;
                    std::ostringstream s;
                    s.precision(17);
                    s << d;
                    key = s.str();
                }
                if (f.keyCandidate) f.keyCandidate = f.seen.insert(key).second;
                if (!f.keyCandidate) f.seen.clear();
            }
        }
    }

    void ChooseKeyFields() {
        if (plan_.idField.empty()) {
            // Text keys first, then keys by name (FIPS over CNTY_ID), then field order.
            int best = 0;
            for (auto& f : fields_) {
                if (!f.keyCandidate) continue;
                int name = KeyNameScore(f.name);
                int score = f.text && name ? 4 + name : name ? 2 + name : f.text ? 1 : 0;
                if (score > best) {
                    best = score;
                    plan_.idField = f.name;
                }
            }
            if (plan_.idField.empty())
                Fail("has no field whose values are all distinct and filled in, to tell its areas apart: name one with --id FIELD; its fields are: " +
                     JoinNames(Names(false)));
        }
        if (plan_.descField.empty()) {
            for (auto& f : fields_) {
                std::string u = UCase(f.name);
                if (f.text && (u.find("NAME") != std::string::npos || u.find("TOWN") != std::string::npos ||
                               u.find("LABEL") != std::string::npos || u.find("DESC") != std::string::npos)) {
                    plan_.descField = f.name;
                    break;
                }
            }
            if (plan_.descField.empty()) plan_.descField = plan_.idField;
        }
    }

    // A count: whole numbers, none negative, no share or statistic by its
    // name, and never more than the base it would be measured against.
    bool IsCount(const FieldInfo& f, const std::string& base) const {
        return f.any && f.whole && f.nonNegative && !NamesShareOrStatistic(f.name) && !exceeds_.count({f.name, base});
    }

    void PlanTargets() {
        std::vector<std::string> numbers;
        for (auto& f : fields_)
            if (f.numeric && !IEquals(f.name, plan_.idField)) numbers.push_back(f.name);
        auto families = FindFamilies(numbers);
        std::map<std::string, size_t> familyOf;
        std::set<std::pair<int, std::string>> suffixes;
        for (size_t i = 0; i < families.size(); ++i)
            for (auto& [suffix, field] : families[i].members) {
                familyOf[field] = i;
                suffixes.insert({std::stoi(suffix), suffix});
            }
        for (auto& s : suffixes) plan_.years.push_back(s.second);
        if (plan_.years.empty()) plan_.years.push_back("Current");
        const size_t years = plan_.years.size();

        // The base per year.
        std::vector<std::string> base(years);
        std::set<std::string> baseFields;
        if (!options_.baseField.empty()) {
            auto fields = BaseFields(families);
            baseFields.insert(fields.begin(), fields.end());
            auto fam = familyOf.find(fields.front());
            for (size_t k = 0; k < years; ++k)
                base[k] = fam != familyOf.end() ? families[fam->second].Member(plan_.years[k]) : fields.front();
        }

        std::set<std::string> usedNames;
        std::set<size_t> familiesDone;
        for (auto& field : numbers) {
            TargetPlan t;
            auto it = familyOf.find(field);
            if (it != familyOf.end()) {
                if (!familiesDone.insert(it->second).second) continue;
                const Family& fam = families[it->second];
                t.name = fam.stem;
                for (auto& y : plan_.years) t.number.push_back(fam.Member(y));
            } else {
                t.name = field;
                t.number.assign(years, field);
            }
            std::string unique = t.name;
            for (int n = 2; usedNames.count(UCase(unique)); ++n) unique = t.name + " " + std::to_string(n);
            usedNames.insert(UCase(unique));

            t.canPercent = !options_.baseField.empty() && !NamesShareOrStatistic(t.name);
            t.name = unique;
            for (size_t k = 0; k < years && t.canPercent; ++k) {
                if (t.number[k].empty()) continue;
                const FieldInfo* f = FindFieldConst(t.number[k]);
                t.canPercent = !base[k].empty() && !baseFields.count(t.number[k]) && IsCount(*f, base[k]);
            }
            if (t.canPercent) t.percent = base;
            plan_.targets.push_back(std::move(t));
        }
    }

    const FieldInfo* FindFieldConst(const std::string& name) const {
        for (auto& f : fields_)
            if (f.name == name) return &f;
        return nullptr;
    }

    const DatasetInitLevel& level_;
    const DatasetInitOptions& options_;
    gis::SpatialReferencePtr givenSrs_;
    std::string where_;
    gis::FeatureClassPtr fc_;
    std::vector<FieldInfo> fields_;
    std::vector<std::string> scanBases_;
    std::set<std::pair<std::string, std::string>> exceeds_;  // (field, base) where field > base in some row
    LevelPlan plan_;
};

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

// XML comments may not hold "--".
std::string CommentText(std::string s) {
    while (s.find("--") != std::string::npos) s = ReplaceAll(s, "--", "- -");
    return s;
}

void AddParam(pugi::xml_node task, const std::string& key, const std::string& value) {
    auto p = task.append_child("Param");
    p.append_attribute("key") = key.c_str();
    p.append_attribute("value") = value.c_str();
}

// The level's name in the singular ("Counties" gives "County"), as level
// names are written; captions usually name the areas in the plural.
std::string LevelName(const std::string& caption) {
    std::string t = Trim(caption);
    std::string u = UCase(t);
    if (u.size() > 3 && u.compare(u.size() - 3, 3, "IES") == 0) return t.substr(0, t.size() - 3) + (t.back() == 'S' ? "Y" : "y");
    if (u.size() > 1 && u.back() == 'S' && u.compare(u.size() - 2, 2, "SS") != 0) return t.substr(0, t.size() - 1);
    return t;
}

void AddByLayer(pugi::xml_node parent, const LevelPlan& level, const std::string& type) {
    auto task = parent.append_child("Task");
    task.append_attribute("name") = "CustomerProspecting.ByLayer";
    task.append_attribute("caption") = level.caption.c_str();
    // Profiles saved at one level are not offered at another.
    task.append_attribute("type") = type.c_str();
    task.append_attribute("level") = LevelName(level.caption).c_str();
    AddParam(task, "MainLayer", level.layerName);
    auto additional = task.append_child("AdditionalFields");
    additional.append_child("Field").text() = level.descField.c_str();
    if (level.idField != level.descField) additional.append_child("Field").text() = level.idField.c_str();
    auto years = task.append_child("Years");
    for (auto& y : level.years) years.append_child("Year").text() = y.c_str();

    std::vector<const TargetPlan*> counts, others;
    for (auto& t : level.targets) (t.canPercent ? counts : others).push_back(&t);
    auto addGroup = [&](const std::vector<const TargetPlan*>& targets, const std::string& title) {
        for (size_t first = 0; first < targets.size(); first += kTargetsPerCategory) {
            std::string id = first == 0 ? title : title + " " + std::to_string(first / kTargetsPerCategory + 1);
            auto cat = task.append_child("Category");
            cat.append_attribute("id") = id.c_str();
            cat.append_attribute("caption") = id.c_str();
            for (size_t i = first; i < std::min(targets.size(), first + kTargetsPerCategory); ++i) {
                const TargetPlan& t = *targets[i];
                auto target = cat.append_child("Target");
                target.append_attribute("name") = t.name.c_str();
                target.append_attribute("caption") = t.name.c_str();
                target.append_attribute("CanPercent") = t.canPercent ? "True" : "False";
                for (size_t k = 0; k < t.number.size(); ++k) {
                    if (t.number[k].empty()) continue;
                    auto f = target.append_child("Field");
                    f.append_attribute("year") = std::to_string(k + 1).c_str();
                    f.append_attribute("number") = t.number[k].c_str();
                    if (t.canPercent) f.append_attribute("percent") = t.percent[k].c_str();
                }
            }
        }
    };
    addGroup(counts, "Counts");
    addGroup(others, counts.empty() ? "Values" : "Other values");
}

// The household way with the categories the household-data service counts.
void AddHousehold(pugi::xml_node parent, const LevelPlan& level) {
    auto task = parent.append_child("Task");
    task.append_attribute("name") = "CustomerProspecting.Household";
    task.append_attribute("caption") = level.caption.c_str();
    task.append_attribute("level") = LevelName(level.caption).c_str();
    AddParam(task, "MainLayer", level.layerName);
    AddParam(task, "Quillon360URL", "http://127.0.0.1:8360/");
    AddParam(task, "RegisterURL", "http://127.0.0.1:8360/velmarweb/VELMAR_Reg.asp");
    task.append_child(pugi::node_comment).set_value(" The household categories the household-data service counts. ");
    struct Category {
        const char* id;
        const char* caption;
        std::vector<std::pair<const char*, const char*>> targets;
    };
    static const std::vector<Category> standard = {
        {"MEDN_AGE", "Age of householder", {{"-1", "25 to 34"}, {"-2", "35 to 44"}, {"-3", "45 to 54"}, {"-4", "55 to 64"}}},
        {"INCOME",
         "Household income",
         {{"A", "Under $25,000"}, {"B", "$25,000 to $49,999"}, {"C", "$50,000 to $99,999"}, {"D", "$100,000 or more"}}},
        {"CHILDREN", "Children at home", {{"Y", "One or more children"}, {"N", "No children"}}},
        {"TENURE", "Home ownership", {{"O", "Owner"}, {"R", "Renter"}}},
    };
    for (auto& c : standard) {
        auto cat = task.append_child("Category");
        cat.append_attribute("id") = c.id;
        cat.append_attribute("caption") = c.caption;
        for (auto& [name, caption] : c.targets) {
            auto t = cat.append_child("Target");
            t.append_attribute("name") = name;
            t.append_attribute("caption") = caption;
        }
    }
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

    std::vector<LevelPlan> levels;
    std::set<std::string> captions, layerNames;
    for (auto& level : options.levels) {
        if (Trim(level.caption).empty() || Trim(level.source).empty())
            Raise(kErrInvalidCall, "A level needs a caption and a layer: --level \"CAPTION=PATH\" (got \"" +
                                       level.caption + "=" + level.source + "\")");
        if (!captions.insert(UCase(level.caption)).second)
            Raise(kErrInvalidCall, "Two levels are called " + level.caption + ": give each level its own caption");
        LevelPlan plan = LevelReader(level, options, srs).Read();
        plan.layerName = LayerNameFor(level.caption, layerNames);
        plan.source = SourceFor(level.source, options.outPath);
        levels.push_back(std::move(plan));
    }

    pugi::xml_document doc;
    auto decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "utf-8";
    std::string comment = " Written by plexa dataset init from the layers\n";
    for (auto& l : levels) comment += "       " + l.caption + ": " + l.source + "\n";
    comment += "     The captions of levels, categories and targets may be edited; the names are\n"
               "     what query files and analyses refer to. ";
    doc.append_child(pugi::node_comment).set_value(CommentText(comment).c_str());

    auto root = doc.append_child("PlexaConfiguration");
    root.append_attribute("currentDataset") = options.name.c_str();
    root.append_attribute("basemapLayer") = levels.front().layerName.c_str();
    auto settings = root.append_child("Settings");
    for (auto [name, value] : {std::pair{"Data Format", "Shapefile"}, {"Use Group Layer For Analysis", "True"},
                               {"Group Layer For Analysis", "Analysis"}, {"Create Report", "True"}}) {
        auto s = settings.append_child("Setting");
        s.append_attribute("name") = name;
        s.append_attribute("value") = value;
    }
    auto dataset = root.append_child("Dataset");
    dataset.append_attribute("name") = options.name.c_str();
    for (auto& l : levels) {
        auto layer = dataset.append_child("Layer");
        layer.append_attribute("name") = l.layerName.c_str();
        layer.append_attribute("caption") = l.caption.c_str();
        layer.append_attribute("source") = l.source.c_str();
        if (!l.srs.empty()) layer.append_attribute("srs") = l.srs.c_str();
        layer.append_attribute("idField") = l.idField.c_str();
        layer.append_attribute("descField") = l.descField.c_str();
    }
    auto cp = dataset.append_child("Task");
    cp.append_attribute("name") = "CustomerProspecting";
    cp.append_attribute("caption") = "Customer Prospecting";
    for (auto& l : levels) {
        AddByLayer(cp, l, Trim(options.name) + " " + l.caption);
        if (options.household) AddHousehold(cp, l);
    }

    auto projections = dataset.append_child("Task");
    projections.append_attribute("name") = "Projections";
    auto resultant = projections.append_child("Task");
    resultant.append_attribute("name") = "Projection.ResultantDefault";
    AddParam(resultant, "Type", "Geographic");
    int epsg = levels.front().geographicEpsg;
    AddParam(resultant, "ID", std::to_string(epsg > 0 ? epsg : 4326));

    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

}  // namespace host
