#include "host/framework/DatasetPeriods.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <set>

#include "host/Object.h"

namespace host {

namespace {

// Four-digit suffixes in this range read as years.
constexpr int kFirstPlausibleYear = 1700;
constexpr int kLastPlausibleYear = 2100;
// The data page offers this many years.
constexpr size_t kYearsShown = 3;

int Number(const std::string& digits) {
    int n = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return n;
}

// Two-digit years as one series: it starts after the widest gap between
// them (so 40 … 90, 00 runs from 40 to 00) and ends as late as it can
// without passing thisYear.
std::map<int, int> ReadTwoDigitSeries(const std::set<int>& values, int thisYear) {
    std::vector<int> v(values.begin(), values.end());
    size_t start = 0;
    int widest = -1;
    for (size_t i = 0; i < v.size(); ++i) {
        int next = i + 1 < v.size() ? v[i + 1] : v.front() + 100;
        if (next - v[i] > widest) {
            widest = next - v[i];
            start = (i + 1) % v.size();
        }
    }
    std::vector<int> years;
    int century = 1900;
    for (size_t n = 0; n < v.size(); ++n) {
        int value = v[(start + n) % v.size()];
        if (!years.empty() && century + value < years.back()) century += 100;
        years.push_back(century + value);
    }
    int shift = 0;
    while (years.back() + shift > thisYear) shift -= 100;
    while (years.back() + shift + 100 <= thisYear) shift += 100;
    std::map<int, int> out;
    for (size_t n = 0; n < v.size(); ++n) out[v[(start + n) % v.size()]] = years[n] + shift;
    return out;
}

// The suffixes (all of one length) read as periods, in their order; empty
// when they are not successive periods.
std::vector<Period> ReadPeriods(const std::vector<std::string>& suffixes, const std::set<int>& fourDigitYears,
                                int thisYear) {
    std::vector<Period> out;
    if (suffixes.front().size() == 4) {
        bool years = std::all_of(suffixes.begin(), suffixes.end(), [](const std::string& s) {
            int y = Number(s);
            return y >= kFirstPlausibleYear && y <= kLastPlausibleYear;
        });
        if (years) {
            for (auto& s : suffixes) out.push_back({Number(s), Number(s)});
            return out;
        }
        // Two two-digit years: 7984 is 1979-84.
        std::set<int> values;
        for (auto& s : suffixes) values.insert({Number(s.substr(0, 2)), Number(s.substr(2))});
        auto year = ReadTwoDigitSeries(values, thisYear);
        for (auto& s : suffixes) out.push_back({year[Number(s.substr(0, 2))], year[Number(s.substr(2))]});
    } else {
        // A four-digit year of the layer explains a two-digit one when it is
        // the only one that ends so.
        std::map<int, int> year;
        for (auto& s : suffixes) {
            int yy = Number(s), found = 0, matches = 0;
            for (int y : fourDigitYears)
                if (y % 100 == yy) found = y, ++matches;
            if (matches == 1) year[yy] = found;
        }
        if (year.size() != suffixes.size()) {
            std::set<int> values;
            for (auto& s : suffixes) values.insert(Number(s));
            year = ReadTwoDigitSeries(values, thisYear);
        }
        for (auto& s : suffixes) out.push_back({year[Number(s)], year[Number(s)]});
    }
    std::vector<Period> sorted = out;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i].last < sorted[i].first) return {};
        // Spans follow one another; they may share their ends (1984 in 1979-84 and 1984-88).
        if (i > 0 && (sorted[i].first < sorted[i - 1].last || sorted[i] == sorted[i - 1])) return {};
    }
    return out;
}

std::string Normalised(std::string s) {
    s = Trim(ReplaceAll(s, "\xE2\x80\x93", "-"));
    return UCase(s);
}

}  // namespace

std::string Period::Caption() const {
    if (first == last) return std::to_string(first);
    std::string end = std::to_string(last);
    if (first / 100 == last / 100) end = end.substr(end.size() - 2);
    return std::to_string(first) + "\xE2\x80\x93" + end;
}

int ThisYear() {
    using namespace std::chrono;
    return static_cast<int>(year_month_day{floor<days>(system_clock::now())}.year());
}

bool LevelPeriods::Kept(size_t period) const { return std::find(kept.begin(), kept.end(), period) != kept.end(); }

std::vector<PeriodFamily> FindPeriodFamilies(const std::vector<std::string>& names, int thisYear) {
    // Candidates by stem and suffix length: X40 and X1940 are two families.
    struct Candidate {
        std::string stem;
        std::vector<std::string> fields, suffixes;
    };
    std::vector<Candidate> candidates;
    std::map<std::string, size_t> byKey;
    for (auto& n : names) {
        size_t start = n.size();
        while (start > 0 && std::isdigit(static_cast<unsigned char>(n[start - 1]))) --start;
        size_t digits = n.size() - start;
        std::string stem = n.substr(0, start);
        if ((digits != 2 && digits != 4) ||
            std::none_of(stem.begin(), stem.end(), [](unsigned char ch) { return std::isalpha(ch); }))
            continue;
        auto [it, added] = byKey.try_emplace(UCase(stem) + "|" + std::to_string(digits), candidates.size());
        if (added) candidates.push_back({stem, {}, {}});
        Candidate& c = candidates[it->second];
        if (std::find(c.suffixes.begin(), c.suffixes.end(), n.substr(start)) != c.suffixes.end()) continue;
        c.fields.push_back(n);
        c.suffixes.push_back(n.substr(start));
    }

    // Four-digit years first: they explain the two-digit ones beside them.
    std::vector<PeriodFamily> read(candidates.size());
    std::set<int> fourDigitYears;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < candidates.size(); ++i) {
            const Candidate& c = candidates[i];
            if (c.fields.size() < 2 || (c.suffixes.front().size() == 4) != (pass == 0)) continue;
            auto periods = ReadPeriods(c.suffixes, fourDigitYears, thisYear);
            if (periods.empty()) continue;
            std::vector<size_t> order(periods.size());
            for (size_t k = 0; k < order.size(); ++k) order[k] = k;
            std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return periods[a] < periods[b]; });
            PeriodFamily& f = read[i];
            f.stem = c.stem;
            while (f.stem.size() > 1 && f.stem.back() == '_') f.stem.pop_back();
            for (size_t k : order) {
                f.periods.push_back(periods[k]);
                f.fields.push_back(c.fields[k]);
                f.suffixes.push_back(c.suffixes[k]);
                if (pass == 0 && periods[k].first == periods[k].last) fourDigitYears.insert(periods[k].first);
            }
        }
    }
    std::vector<PeriodFamily> out;
    for (auto& f : read)
        if (!f.fields.empty()) out.push_back(std::move(f));
    return out;
}

LevelPeriods AlignPeriods(const std::vector<PeriodFamily>& families, const std::vector<std::string>& chosen) {
    LevelPeriods out;
    if (families.empty()) return out;

    // The periods most families share; then the most periods, then the latest.
    std::map<std::vector<Period>, size_t> shared;
    for (auto& f : families) ++shared[f.periods];
    auto better = [&](const std::vector<Period>& a, const std::vector<Period>& b) {
        if (shared[a] != shared[b]) return shared[a] > shared[b];
        if (a.size() != b.size()) return a.size() > b.size();
        return b.back() < a.back();
    };
    out.all = families.front().periods;
    for (auto& f : families)
        if (better(f.periods, out.all)) out.all = f.periods;
    const auto& all = out.all;
    auto indexOf = [&](const Period& p) -> size_t {
        auto it = std::find(all.begin(), all.end(), p);
        return it == all.end() ? all.size() : static_cast<size_t>(it - all.begin());
    };

    for (size_t i = 0; i < families.size(); ++i) {
        const PeriodFamily& f = families[i];
        AlignedFamily a;
        a.family = i;
        a.fields.assign(all.size(), "");
        bool sharesOne = false;
        for (auto& p : f.periods) sharesOne = sharesOne || indexOf(p) < all.size();
        // Periods of its own, in step with the level's: each one after the
        // previous period of the level began and before the next one begins.
        bool inStep = !sharesOne && f.periods.size() == all.size();
        for (size_t k = 0; inStep && k < all.size(); ++k)
            inStep = (k == 0 || f.periods[k].first > all[k - 1].first) &&
                     (k + 1 == all.size() || f.periods[k].first < all[k + 1].first);
        if (inStep) {
            a.fields = f.fields;
            a.byOrder = true;
        } else {
            for (size_t k = 0; k < f.periods.size(); ++k) {
                size_t at = indexOf(f.periods[k]);
                if (at < all.size()) a.fields[at] = f.fields[k];
                else out.unaligned.push_back(f.fields[k]);
            }
        }
        if (std::any_of(a.fields.begin(), a.fields.end(), [](const std::string& s) { return !s.empty(); }))
            out.aligned.push_back(std::move(a));
    }

    if (chosen.empty()) {
        for (size_t k = all.size() > kYearsShown ? all.size() - kYearsShown : 0; k < all.size(); ++k) out.kept.push_back(k);
        return out;
    }
    std::string list;
    for (auto& p : all) list += (list.empty() ? "" : ", ") + p.Caption();
    std::set<size_t> kept;
    for (auto& wanted : chosen) {
        std::string w = Normalised(wanted);
        size_t found = all.size();
        for (size_t k = 0; k < all.size() && found == all.size(); ++k) {
            const Period& p = all[k];
            std::vector<std::string> forms = {Normalised(p.Caption()), std::to_string(p.first) + "-" + std::to_string(p.last)};
            if (p.first == p.last) forms.push_back(std::to_string(p.first));
            for (auto& a : out.aligned)
                if (!a.byOrder && !a.fields[k].empty()) {
                    const PeriodFamily& f = families[a.family];
                    forms.push_back(UCase(f.suffixes[std::find(f.fields.begin(), f.fields.end(), a.fields[k]) - f.fields.begin()]));
                }
            if (std::find(forms.begin(), forms.end(), w) != forms.end()) found = k;
        }
        if (found == all.size())
            Raise(kErrInvalidCall, "has no period " + Trim(wanted) + " (given with --years); its periods are: " + list);
        kept.insert(found);
    }
    if (kept.size() > kYearsShown)
        Raise(kErrInvalidCall, "is given " + std::to_string(kept.size()) + " periods with --years; the data page offers " +
                                   std::to_string(kYearsShown) + ": name at most three of " + list);
    out.kept.assign(kept.begin(), kept.end());
    return out;
}

}  // namespace host
