#include "pages/DemographicQuery.h"

#include <algorithm>

#include "host/forms/Forms.h"
#include "host/platform/Locale.h"
#include "i18n/modi18N.h"

namespace pxcp {

using namespace host;

namespace {
const char* kCrLf = "\r\n";

double Number(const std::string& text) {
    auto v = platform::ParseLocaleNumber(text);
    if (!v) Raise(kErrTypeMismatch, "Type mismatch: \"" + text + "\" is not a number");
    return *v;
}

std::string Fmt(const std::string& text) { return platform::FormatFixed(Number(text), 2); }
}  // namespace

void DemographicQuery::Build(const TaskEntryPtr& task) {
    mainTask = task;
    categoryRecords.clear();
    for (long i = 0; i < task->CategoryCount(); ++i) {
        auto cat = task->Category(i);
        auto rec = std::make_shared<Collection>();
        rec->Add(cat->id, "Category ID");
        for (long j = 0; j < cat->TargetCount(); ++j) {
            auto t = cat->Target(j);
            std::string n = std::to_string(j);
            rec->Add(t->name, "Target" + n);
            rec->Add(t->Property("CanPercent"), "CanPercent" + n);
            rec->Add(std::string(), "Floor" + n);
            rec->Add(std::string(), "Ceiling" + n);
        }
        categoryRecords.push_back(rec);
    }
}

std::string DemographicQuery::Get(const Collection& record, const std::string& key, long j) {
    return record.Item(key + std::to_string(j)).ToString();
}

void DemographicQuery::SetFloor(Collection& record, long j, const std::string& value) {
    std::string n = std::to_string(j);
    record.Remove("Floor" + n);
    record.Add(value, "Floor" + n, "Ceiling" + n);
}

void DemographicQuery::SetCeiling(Collection& record, long j, const std::string& value) {
    std::string n = std::to_string(j);
    record.Remove("Ceiling" + n);
    record.Add(value, "Ceiling" + n, "", "Floor" + n);
}

bool DemographicQuery::IsCategoryEmpty(const Collection& record) {
    for (long j = 0; j < TargetCount(record); ++j)
        if (!Get(record, "Floor", j).empty() || !Get(record, "Ceiling", j).empty()) return false;
    return true;
}

void DemographicQuery::ProfileBounds(double v, double variance, int manner, bool canPercent,
                                     std::optional<double>& floor, std::optional<double>& ceiling) {
    floor.reset();
    ceiling.reset();
    double down = canPercent ? std::max(0.0, v - variance) : v - v * variance / 100;
    double up = canPercent ? std::min(100.0, v + variance) : v + v * variance / 100;
    if (manner == 0 || manner == 2) floor = down;
    if (manner == 1 || manner == 2) ceiling = up;
}

std::vector<long> DemographicQuery::PopulateFromProfile(const Collection& rows, int manner, double variance) {
    std::vector<long> touched;
    auto number = [](const Variant& v) {
        if (v.IsEmpty()) return 0.0;
        if (v.IsNumber()) return v.ToDouble();
        // A profile read from a file holds its values as text.
        if (auto d = platform::ParseStoredNumber(v.ToString())) return *d;
        return v.ToDouble();
    };
    for (long i = 1; i <= rows.Count(); ++i) {
        auto item = rows.Item(i).As<Collection>();
        if (!item) continue;
        std::string id = item->Item("0").ToString(), name = item->Item("1").ToString();
        for (long c = 0; c < CategoryCount(); ++c) {
            auto& rec = *categoryRecords[c];
            if (rec.Item("Category ID").ToString() != id) continue;
            for (long j = 0; j < TargetCount(rec); ++j) {
                if (Get(rec, "Target", j) != name) continue;
                std::optional<double> floor, ceiling;
                ProfileBounds(number(item->Item("2")), variance, manner, Variant(Get(rec, "CanPercent", j)).ToBool(), floor,
                              ceiling);
                SetFloor(rec, j, floor ? platform::FormatNumber(*floor) : "");
                SetCeiling(rec, j, ceiling ? platform::FormatNumber(*ceiling) : "");
                if (std::find(touched.begin(), touched.end(), c) == touched.end()) touched.push_back(c);
                break;
            }
            break;
        }
    }
    return touched;
}

bool DemographicQuery::IsPercentTarget(const Collection& record, long j) const {
    return !isNumbers && Get(record, "CanPercent", j) == "True";
}

namespace {
std::string LookUp(const TaskEntryPtr& task, const Collection& record, const std::string& targetName, int16_t year,
                   bool percent) {
    std::string id = record.Item("Category ID").ToString();
    auto cat = task ? task->CategoryById(id) : nullptr;
    if (!cat) Raise(kErrInvalidCall, "The catalogue has no category " + id);
    auto target = cat->TargetByName(targetName);
    if (!target) Raise(kErrInvalidCall, "The category " + id + " has no target " + targetName);
    const auto& map = percent ? target->percentFields : target->numberFields;
    auto it = map.find(std::to_string(year));
    if (it == map.end())
        Raise(kErrInvalidCall, "The target " + targetName + " has no " + (percent ? "percent base" : "number") +
                                   " field for year " + std::to_string(year));
    return it->second;
}
}  // namespace

std::string DemographicQuery::GetFieldNameByTargetName(const Collection& record, const std::string& targetName,
                                                       int16_t& year) const {
    return LookUp(mainTask, record, targetName, year, false);
}

std::string DemographicQuery::GetPercentFieldNameByTargetName(const Collection& record, const std::string& targetName,
                                                              int16_t& year) const {
    return LookUp(mainTask, record, targetName, year, true);
}

std::string DemographicQuery::MakeQueryString() {
    std::string clause;
    fieldList.clear();
    fieldCollection = std::make_shared<StringList>();
    const std::string joiner = isAllCharacteristics ? "AND " : "OR ";
    for (auto& recPtr : categoryRecords) {
        const Collection& rec = *recPtr;
        for (long j = 0; j < TargetCount(rec); ++j) {
            std::string fl = Get(rec, "Floor", j), ce = Get(rec, "Ceiling", j);
            if (fl.empty() && ce.empty()) continue;
            std::string name = Get(rec, "Target", j);
            std::string f = GetFieldNameByTargetName(rec, name, yearNumber);
            if (IsPercentTarget(rec, j)) {
                std::string p = GetPercentFieldNameByTargetName(rec, name, yearNumber);
                if (!fl.empty() && !ce.empty())
                    clause += " (" + f + ">=(" + Fmt(fl) + "/100)*" + p + " AND " + f + "<=(" + Fmt(ce) + "/100)*" + p + ") " + joiner;
                else if (!fl.empty())
                    clause += " (" + f + ">=(" + Fmt(fl) + "/100)*" + p + ") " + joiner;
                else
                    clause += " (" + f + "<=(" + Fmt(ce) + "/100)*" + p + ") " + joiner;
            } else {
                if (!fl.empty() && !ce.empty())
                    clause += " (" + f + ">=" + Fmt(fl) + " AND " + f + "<=" + Fmt(ce) + ") " + joiner;
                else if (!fl.empty())
                    clause += " (" + f + ">=" + Fmt(fl) + ") " + joiner;
                else
                    clause += " (" + f + "<=" + Fmt(ce) + ") " + joiner;
            }
            fieldCollection->Add(f);
        }
    }
    for (auto& f : fieldCollection->Items())
        if (!IContains(fieldList, f)) fieldList += f + ",";
    if (!clause.empty()) {
        clause.erase(clause.size() - 4);
        if (!fieldList.empty()) fieldList.pop_back();
        clause = ReplaceAll(clause, ",", ".");
    }
    return clause;
}

namespace {
std::string Quoted(const std::string& s) { return "\"" + s + "\""; }
}  // namespace

bool DemographicQuery::CheckFloorAndCeilingValues(const Ask& ask, const Focus& focus) {
    for (long i = 0; i < CategoryCount(); ++i) {
        Collection& rec = *categoryRecords[i];
        if (IsCategoryEmpty(rec)) continue;
        for (long j = 0; j < TargetCount(rec); ++j) {
            std::string fl = Get(rec, "Floor", j), ce = Get(rec, "Ceiling", j);
            if (fl.empty() || ce.empty()) continue;
            if (Number(ce) >= Number(fl)) continue;
            std::string q = std::string("You have specified a Ceiling value less then") + kCrLf +
                            "the Floor value for target:" + kCrLf + Quoted(rec.Item("Category ID").ToString()) + "/" +
                            Quoted(Get(rec, "Target", j)) + kCrLf + "Do you want to flip those values ?";
            if (ask(i, j, q) == forms::vbYes) {
                SetFloor(rec, j, ce);
                SetCeiling(rec, j, fl);
            } else {
                focus(i, j, false);
                return false;
            }
        }
    }
    return true;
}

bool DemographicQuery::CheckPercents(const Ask& ask, const Focus& focus) {
    for (long i = 0; i < CategoryCount(); ++i) {
        Collection& rec = *categoryRecords[i];
        if (IsCategoryEmpty(rec)) continue;
        for (long j = 0; j < TargetCount(rec); ++j) {
            if (!Variant(Get(rec, "CanPercent", j)).ToBool()) continue;
            for (bool ceiling : {false, true}) {
                std::string v = Get(rec, ceiling ? "Ceiling" : "Floor", j);
                if (v.empty() || Number(v) <= 100) continue;
                std::string q = std::string(ceiling ? "You have specified a Ceiling percentage value "
                                                    : "You have specified a Floor percentage value ") +
                                kCrLf + "greater than 100 for target:" + kCrLf +
                                Quoted(rec.Item("Category ID").ToString()) + "/" + Quoted(Get(rec, "Target", j)) +
                                kCrLf + "Do you want to set this value to 100% ?";
                if (ask(i, j, q) == forms::vbYes) {
                    if (ceiling) SetCeiling(rec, j, "100");
                    else SetFloor(rec, j, "100");
                } else {
                    focus(i, j, ceiling);
                    return false;
                }
            }
        }
    }
    return true;
}

std::string DemographicQuery::ShowQuery(const std::vector<bool>& selected, const std::string& yearCaption,
                                        const std::string& levelName) const {
    const std::string joiner = isAllCharacteristics ? "and " : "or ";
    std::string text = "You will be searching " + yearCaption + FindString(206) + levelName + FindString(207) + kCrLf +
                       FindString(208) + kCrLf;
    const size_t headerLength = text.size();
    bool firstCategory = true;
    for (long i = 0; i < CategoryCount(); ++i) {
        const Collection& rec = *categoryRecords[i];
        if (IsCategoryEmpty(rec) || i >= static_cast<long>(selected.size()) || !selected[i]) continue;
        text += kCrLf;
        if (!firstCategory) text += joiner;
        firstCategory = false;
        text += rec.Item("Category ID").ToString() + " is";
        bool firstTarget = true;
        for (long j = 0; j < TargetCount(rec); ++j) {
            std::string fl = Get(rec, "Floor", j), ce = Get(rec, "Ceiling", j);
            if (fl.empty() && ce.empty()) continue;
            std::string pc = IsPercentTarget(rec, j) ? "%" : "";
            text += kCrLf;
            text += "\t";
            if (!firstTarget) text += joiner;
            firstTarget = false;
            text += Get(rec, "Target", j);
            if (!fl.empty() && !ce.empty()) text += ", between " + fl + pc + " and " + ce + pc;
            else if (!fl.empty()) text += ", greater than or equal to " + fl + pc;
            else text += ", less than or equal to " + ce + pc;
        }
    }
    if (text.size() == headerLength) text += std::string(kCrLf) + "no categories have been targeted";
    return text;
}

}  // namespace pxcp
