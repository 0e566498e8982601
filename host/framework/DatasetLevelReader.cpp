// Reading a level's layer for plexa dataset init: its shapes and
// coordinate system, its key and name fields, which numbers are counts, and
// the targets and years its fields give.
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <unordered_set>

#include "host/Object.h"
#include "host/framework/DatasetInitPlan.h"
#include "host/framework/DatasetPeriods.h"
#include "host/framework/HouseholdKind.h"
#include "host/gis/Field.h"
#include "host/gis/Gdal.h"
#include "host/gis/LayerData.h"
#include "host/gis/LayerSource.h"
#include "host/gis/SpatialReference.h"
#include "host/gis/Table.h"

namespace fs = std::filesystem;

namespace host {

namespace {

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

// Names that say a field already holds a share or a statistic, or a key.
bool NamesShareOrStatistic(const std::string& name) {
    static const char* words[] = {"PCT", "PERC", "PERCENT", "RATE", "RATIO", "SHARE", "PROP", "AVG", "MEAN", "MED", "MEDIAN"};
    std::string c = Core(name);
    for (const char* w : words)
        if (StartsWith(c, w) || EndsWith(c, w)) return true;
    return EndsLikeId(c) || KeyNameScore(name) > 0 || c.find("_ID_") != std::string::npos;
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
        if (options_.household) plan_.householdKind = HouseholdKind();
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
            int n = 0;
            if (auth && code && std::string(auth) == "EPSG" &&
                std::from_chars(code, code + std::strlen(code), n).ec == std::errc())
                return n;
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
    std::vector<std::string> BaseFields(const std::vector<PeriodFamily>& families) {
        const std::string& base = options_.baseField;
        if (base.empty()) return {};
        if (auto f = FindField(base)) {
            if (!f->numeric)
                Fail("has a field " + f->name + " (given with --base) that is not numeric: a percent base must be a count; its numeric fields are: " +
                     JoinNames(Names(true)));
            for (auto& fam : families)
                for (auto& field : fam.fields)
                    if (IEquals(field, f->name)) return fam.fields;
            return {f->name};
        }
        for (auto& fam : families)
            if (IEquals(fam.stem, base)) return fam.fields;
        Fail("has no field " + base + " (given with --base); its numeric fields are: " + JoinNames(Names(true)));
    }

    void ResolveGivenFields() {
        plan_.idField = GivenField(options_.idField, "--id");
        plan_.descField = GivenField(options_.descField, "--desc");
        // Every field that may serve as a base, so that counts can be
        // measured against each in one pass.
        scanBases_ = BaseFields(FindPeriodFamilies(Names(true), ThisYear()));
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

    // Whether the target may be asked for as a share of its base: a count
    // in every year it has a field, never a base itself.
    bool CanPercent(const TargetPlan& t, const std::set<std::string>& baseFields) const {
        if (options_.baseField.empty() || NamesShareOrStatistic(t.name)) return false;
        for (size_t k = 0; k < t.number.size(); ++k) {
            if (t.number[k].empty()) continue;
            if (t.percent[k].empty() || baseFields.count(t.number[k]) || !IsCount(*FindFieldConst(t.number[k]), t.percent[k]))
                return false;
        }
        return true;
    }

    void PlanTargets() {
        std::vector<std::string> numbers;
        for (auto& f : fields_)
            if (f.numeric && !IEquals(f.name, plan_.idField)) numbers.push_back(f.name);
        auto families = FindPeriodFamilies(numbers, ThisYear());
        LevelPeriods periods;
        try {
            periods = AlignPeriods(families, options_.years);
        } catch (const RuntimeError& e) {
            Fail(e.what());
        }
        for (size_t k : periods.kept) plan_.years.push_back(periods.all[k].Caption());
        for (size_t k = 0; k < periods.all.size(); ++k)
            if (!periods.Kept(k)) plan_.otherPeriods.push_back(periods.all[k].Caption());
        if (plan_.years.empty()) plan_.years.push_back("Current");
        const size_t years = plan_.years.size();
        std::map<std::string, size_t> alignedOf;  // field -> index into periods.aligned
        for (size_t i = 0; i < periods.aligned.size(); ++i)
            for (auto& field : periods.aligned[i].fields)
                if (!field.empty()) alignedOf[field] = i;

        // The base per period of the level, and per year.
        std::vector<std::string> basePerPeriod(periods.all.size()), base(years);
        std::set<std::string> baseFields;
        if (!options_.baseField.empty()) {
            auto fields = BaseFields(families);
            baseFields.insert(fields.begin(), fields.end());
            auto it = alignedOf.find(fields.front());
            if (it != alignedOf.end()) basePerPeriod = periods.aligned[it->second].fields;
            else if (fields.size() == 1) basePerPeriod.assign(periods.all.size(), fields.front());
            if (periods.all.empty()) base.assign(years, fields.size() == 1 ? fields.front() : "");
            for (size_t j = 0; j < periods.kept.size(); ++j) base[j] = basePerPeriod[periods.kept[j]];
        }

        std::set<std::string> usedNames;
        std::set<size_t> familiesDone;
        for (auto& field : numbers) {
            TargetPlan t;
            auto it = alignedOf.find(field);
            if (it != alignedOf.end()) {
                if (!familiesDone.insert(it->second).second) continue;
                const AlignedFamily& a = periods.aligned[it->second];
                const PeriodFamily& fam = families[a.family];
                for (size_t k : periods.kept) t.number.push_back(a.fields[k]);
                // A family of older periods only is in their categories.
                if (std::all_of(t.number.begin(), t.number.end(), [](const std::string& n) { return n.empty(); })) continue;
                t.name = fam.stem;
                t.caption = fam.stem;
                if (a.byOrder) {
                    std::string own;
                    for (size_t k : periods.kept) own += (own.empty() ? "" : ", ") + fam.periods[k].Caption();
                    t.caption += " (" + own + ")";
                }
            } else {
                t.name = t.caption = field;
                t.number.assign(years, field);
            }
            std::string unique = t.name;
            for (int n = 2; usedNames.count(UCase(unique)); ++n) unique = t.name + " " + std::to_string(n);
            usedNames.insert(UCase(unique));
            if (t.caption == t.name) t.caption = unique;
            t.name = unique;
            t.percent = base;
            t.canPercent = CanPercent(t, baseFields);
            if (!t.canPercent) t.percent.clear();
            plan_.targets.push_back(std::move(t));
        }

        // The periods not kept as years stay queryable: a category each.
        for (size_t k = 0; k < periods.all.size(); ++k) {
            if (periods.Kept(k)) continue;
            CategoryPlan c;
            c.title = periods.all[k].Caption();
            for (auto& a : periods.aligned) {
                if (a.fields[k].empty()) continue;
                const PeriodFamily& fam = families[a.family];
                TargetPlan t;
                t.name = a.fields[k];
                // Not the family's own caption, which names the target of the years.
                t.caption = fam.stem + (a.byOrder ? " (" + fam.periods[k].Caption() + ")" : " " + c.title);
                t.number.assign(years, a.fields[k]);
                t.percent.assign(years, basePerPeriod[k]);
                t.canPercent = CanPercent(t, baseFields);
                if (!t.canPercent) t.percent.clear();
                c.targets.push_back(std::move(t));
            }
            plan_.periodCategories.push_back(std::move(c));
        }
    }

    // The kind of area the household-data service is to count by: given,
    // else what the keys look like, else what the caption says.
    std::string HouseholdKind() {
        std::string kinds;
        for (auto& k : HouseholdKinds()) kinds += (kinds.empty() ? "" : ", ") + k;
        std::string example = "--household-kind \"" + level_.caption + "=Block group\"";
        if (!level_.householdKind.empty()) {
            std::string kind = HouseholdKindNamed(level_.householdKind);
            if (kind.empty())
                Fail("is given the kind " + level_.householdKind +
                     " with --household-kind, which the household-data service does not count by: give one of " + kinds);
            return kind;
        }
        const FieldInfo* id = FindFieldConst(plan_.idField);
        std::vector<std::string> keys;
        auto cursor = fc_->Search(nullptr, false);
        while (auto row = cursor->NextRow()) {
            Variant v = row->Value(id->index);
            std::string key = v.IsEmpty() ? "" : Trim(v.ToString());
            if (id->numeric && !key.empty()) {
                double d = v.ToDouble();
                key = std::isfinite(d) && std::floor(d) == d && std::fabs(d) < 1e15 ? std::to_string(static_cast<long long>(d)) : "?";
            }
            keys.push_back(key);
        }
        auto byKeys = HouseholdKindsOfKeys(keys, id->numeric, id->name);
        std::string byCaption = HouseholdKindNamed(LevelName(level_.caption));
        if (byKeys.size() == 1) return byKeys.front();
        if (!byCaption.empty() && (byKeys.empty() || std::count(byKeys.begin(), byKeys.end(), byCaption))) return byCaption;
        if (byKeys.empty())
            Fail("has keys (" + id->name + ") that show no kind of area the household-data service counts by (" + kinds +
                 "), nor does its caption: give the kind with " + example);
        Fail("has keys (" + id->name + ") of 5 digits, which may be counties or ZIP codes: give the kind with --household-kind \"" +
             level_.caption + "=County\" or \"" + level_.caption + "=ZIP code\"");
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

}  // namespace

LevelPlan ReadLevel(const DatasetInitLevel& level, const DatasetInitOptions& options, const gis::SpatialReferencePtr& srs) {
    return LevelReader(level, options, srs).Read();
}

}  // namespace host
