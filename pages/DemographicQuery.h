// The demographic selection model: one keyed record per catalogue category
// ("Category ID", then Target/CanPercent/Floor/Ceiling per target), the
// page-wide options, and the operations that turn the choices into the
// where-clause, its field list and the plain-language summary.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/framework/Framework.h"

namespace pxcp {

class DemographicQuery {
public:
    // Builds one record per category of the entry's catalogue.
    void Build(const host::TaskEntryPtr& mainTask);

    long CategoryCount() const { return static_cast<long>(categoryRecords.size()); }
    static long TargetCount(const host::Collection& record) { return (record.Count() - 1) / 4; }
    static std::string Get(const host::Collection& record, const std::string& key, long j);
    // Replaces Floor+j / Ceiling+j in place, so Floor stays before Ceiling.
    static void SetFloor(host::Collection& record, long j, const std::string& value);
    static void SetCeiling(host::Collection& record, long j, const std::string& value);
    static bool IsCategoryEmpty(const host::Collection& record);
    // Whether target j is treated as a percentage under the current option.
    bool IsPercentTarget(const host::Collection& record, long j) const;

    std::string GetFieldNameByTargetName(const host::Collection& record, const std::string& targetName, int16_t& year) const;
    std::string GetPercentFieldNameByTargetName(const host::Collection& record, const std::string& targetName,
                                                int16_t& year) const;

    // The where-clause; also sets fieldList and fieldCollection. Raises when
    // a value is not a number or the catalogue lacks a field.
    std::string MakeQueryString();

    // Asks the analyst; returns the answer (Yes or No). The question names
    // the category index and target row so the page can show them first.
    using Ask = std::function<int(long category, long target, const std::string& question)>;
    // The page puts the focus on a box: (category, target, ceiling?).
    using Focus = std::function<void(long category, long target, bool ceiling)>;
    bool CheckFloorAndCeilingValues(const Ask& ask, const Focus& focus);
    bool CheckPercents(const Ask& ask, const Focus& focus);

    // The populate rule: the floor and ceiling that a profile value v gives
    // under a manner (0 floor, 1 ceiling, 2 both) and a variance in percent.
    // A percentage moves by the variance in points within 0..100, a count
    // by the variance as a share of itself; a one-sided manner leaves the
    // other bound empty.
    static void ProfileBounds(double v, double variance, int manner, bool canPercent, std::optional<double>& floor,
                              std::optional<double>& ceiling);
    // Applies profile rows ({"0" category id, "1" target name, "2" value}).
    // Returns the indexes of the categories that had a matching target.
    std::vector<long> PopulateFromProfile(const host::Collection& rows, int manner, double variance);

    // selected: whether each category is selected in the list.
    std::string ShowQuery(const std::vector<bool>& selected, const std::string& yearCaption,
                          const std::string& levelName) const;

    std::vector<host::CollectionPtr> categoryRecords;
    bool isNumbers = true;
    bool isAllCharacteristics = true;
    int16_t yearNumber = 1;
    std::string fieldList;
    host::StringListPtr fieldCollection = std::make_shared<host::StringList>();
    host::TaskEntryPtr mainTask;
};

}  // namespace pxcp
