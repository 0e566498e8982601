// Reads the periods of a layer's fields as an analyst would: fields named
// STEM + period (POP1990, X90, HR7984) form families, their suffixes are
// read as years ("90" beside "1990" is 1990) or as spans of two years
// ("7984" is 1979-84), families over the same periods are lined up, and the
// level keeps at most three periods as its years.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace host {

// A year (first == last) or a span of years.
struct Period {
    int first = 0;
    int last = 0;
    // "1990"; "1979–84" for a span within one century, "1998–2003" across.
    std::string Caption() const;
    bool operator==(const Period& o) const { return first == o.first && last == o.last; }
    bool operator<(const Period& o) const { return first != o.first ? first < o.first : last < o.last; }
};

// Fields named STEM + suffix whose suffixes read as successive periods.
struct PeriodFamily {
    std::string stem;  // as written in the first field, trailing "_" removed
    std::vector<Period> periods;        // ascending
    std::vector<std::string> fields;    // per period
    std::vector<std::string> suffixes;  // per period, as written
};

// The families among the names, in the order of their first field. Names
// whose suffixes cannot be periods (GR4000, GR5000: spans that overlap) are
// in none. thisYear resolves two-digit years that no four-digit year of
// another family explains: the latest reading not after it.
std::vector<PeriodFamily> FindPeriodFamilies(const std::vector<std::string>& names, int thisYear);

// A family as the level's targets see it: its field for each of the
// level's periods (empty where it has none).
struct AlignedFamily {
    size_t family = 0;                // index into the families
    std::vector<std::string> fields;  // per period of the level
    // True when the family has periods of its own, taken one for one in
    // their order (PE77, PE82, PE87 beside HR7984, HR8488, HR8893).
    bool byOrder = false;
};

struct LevelPeriods {
    std::vector<Period> all;         // the periods the families are lined up over
    std::vector<size_t> kept;        // indexes into all: the level's years, ascending
    std::vector<AlignedFamily> aligned;
    std::vector<std::string> unaligned;  // family fields that fit no period of the level
    bool Kept(size_t period) const;
};

// Lines the families up over the periods most of them share (families over
// other periods join where theirs coincide, or one for one in order when
// they have as many periods that fall in step), and keeps as years the
// latest three, or the periods named in chosen (a caption such as
// "1979–84" or "1979-84", a first year, or a suffix as written). Raises
// kErrInvalidCall naming the periods when a chosen one is not among them,
// or when more than three are chosen.
LevelPeriods AlignPeriods(const std::vector<PeriodFamily>& families, const std::vector<std::string>& chosen);

// The current calendar year.
int ThisYear();

}  // namespace host
