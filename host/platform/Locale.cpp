#include "host/platform/Locale.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <map>

namespace host::platform {

namespace {
UserLocale g_locale;

// Locale id to code page and decimal separator for the locales we know.
struct LocaleInfo {
    int codePage;
    char decimal;
};
const std::map<long, LocaleInfo>& LocaleTable() {
    static const std::map<long, LocaleInfo> table = {
        {1033, {1252, '.'}}, {2057, {1252, '.'}}, {3081, {1252, '.'}}, {4105, {1252, '.'}},
        {5129, {1252, '.'}}, {6153, {1252, '.'}}, {7177, {1252, '.'}}, {8201, {1252, '.'}},
        {9225, {1252, '.'}}, {10249, {1252, '.'}}, {11273, {1252, '.'}}, {12297, {1252, '.'}},
        {13321, {1252, '.'}}, {1031, {1252, ','}}, {1036, {1252, ','}}, {1034, {1252, ','}},
        {1040, {1252, ','}}, {1043, {1252, ','}}, {1046, {1252, ','}}, {2070, {1252, ','}},
        {1045, {1250, ','}}, {1029, {1250, ','}}, {1038, {1250, ','}}, {1049, {1251, ','}},
        {1058, {1251, ','}}, {1032, {1253, ','}}, {1055, {1254, ','}}, {1037, {1255, '.'}},
        {1025, {1256, '.'}}, {1061, {1257, ','}}, {1063, {1257, ','}}, {1041, {932, '.'}},
        {2052, {936, '.'}}, {1042, {949, '.'}}, {1028, {950, '.'}}, {1054, {874, '.'}},
    };
    return table;
}

long LcidFromPosixName(const std::string& name) {
    static const std::map<std::string, long> names = {
        {"en_US", 1033}, {"en_GB", 2057}, {"en_AU", 3081}, {"en_CA", 4105}, {"de_DE", 1031},
        {"fr_FR", 1036}, {"es_ES", 1034}, {"it_IT", 1040}, {"nl_NL", 1043}, {"pl_PL", 1045},
        {"ru_RU", 1049}, {"ja_JP", 1041}, {"zh_CN", 2052}, {"ko_KR", 1042}, {"zh_TW", 1028},
    };
    auto it = names.find(name.substr(0, 5));
    return it == names.end() ? 1033 : it->second;
}
}  // namespace

const UserLocale& CurrentLocale() { return g_locale; }
void SetCurrentLocale(const UserLocale& locale) { g_locale = locale; }

void UseEnvironmentLocale() {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_MESSAGES, "C");
}

void InitLocaleFromEnvironment() {
    long lcid = 1033;
    // The POSIX order: LC_ALL over LC_NUMERIC over LANG.
    if (const char* id = std::getenv("PLEXA_LOCALE"); id && *id) {
        lcid = std::strtol(id, nullptr, 10);
    } else if (const char* a = std::getenv("LC_ALL"); a && *a) {
        lcid = LcidFromPosixName(a);
    } else if (const char* n = std::getenv("LC_NUMERIC"); n && *n) {
        lcid = LcidFromPosixName(n);
    } else if (const char* l = std::getenv("LANG"); l && *l) {
        lcid = LcidFromPosixName(l);
    }
    UserLocale loc;
    loc.lcid = lcid;
    loc.decimalSeparator = LocaleDecimalSeparator(lcid);
    loc.groupSeparator = loc.decimalSeparator == ',' ? '.' : ',';
    SetCurrentLocale(loc);
}

std::string LocaleAnsiCodePage(long lcid) {
    auto it = LocaleTable().find(lcid);
    return std::to_string(it == LocaleTable().end() ? 1252 : it->second.codePage);
}

char LocaleDecimalSeparator(long lcid) {
    auto it = LocaleTable().find(lcid);
    return it == LocaleTable().end() ? '.' : it->second.decimal;
}

namespace {

// Reads text with the given separators; grp 0 allows no grouping.
std::optional<double> ParseWith(const std::string& text, size_t i, size_t n, char dec, char grp) {
    std::string s;
    bool digits = false, seenDec = false, seenExp = false;
    for (size_t k = i; k < n; ++k) {
        char c = text[k];
        if (c >= '0' && c <= '9') {
            s += c;
            digits = true;
        } else if (c == dec && !seenDec && !seenExp) {
            s += '.';
            seenDec = true;
        } else if (grp && c == grp && !seenDec && !seenExp && digits) {
            continue;  // digit grouping
        } else if ((c == '+' || c == '-') && (k == i || (seenExp && (s.back() == 'e')))) {
            s += c;
        } else if ((c == 'e' || c == 'E') && digits && !seenExp) {
            s += 'e';
            seenExp = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits || s.back() == 'e' || s.back() == '+' || s.back() == '-') return std::nullopt;
    return ParseCNumber(s);
}

// True when a group separator in text[i, n) is followed by fewer than three
// digits ("0.3" with "." for grouping), so the text cannot be a grouped
// number: the separator can then only have been meant as a decimal point.
bool CannotBeGrouped(const std::string& text, size_t i, size_t n, char dec, char grp) {
    if (text.find(dec, i) < n) return false;
    for (size_t k = i; k < n; ++k) {
        if (text[k] != grp) continue;
        size_t d = 0;
        while (k + 1 + d < n && text[k + 1 + d] >= '0' && text[k + 1 + d] <= '9') ++d;
        if (d < 3) return true;
    }
    return false;
}

}  // namespace

std::optional<double> ParseLocaleNumber(const std::string& text) {
    bool otherSeparator = false;
    return ParseLocaleNumber(text, otherSeparator);
}

std::optional<double> ParseLocaleNumber(const std::string& text, bool& otherSeparator) {
    otherSeparator = false;
    const char dec = g_locale.decimalSeparator;
    const char grp = g_locale.groupSeparator;
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    if (i == n) return std::nullopt;
    if (grp && grp != dec && CannotBeGrouped(text, i, n, dec, grp)) {
        auto v = ParseWith(text, i, n, grp, 0);
        otherSeparator = v.has_value();
        return v;
    }
    return ParseWith(text, i, n, dec, grp);
}

std::string OtherSeparatorWarning(const std::string& where, const std::string& text) {
    bool other = false;
    auto value = ParseLocaleNumber(text, other);
    return "Numbers in " + where + " are written with \"" + std::string(1, g_locale.groupSeparator) +
           "\" as the decimal point, not the \"" + std::string(1, g_locale.decimalSeparator) +
           "\" of your settings. They were read as decimals: \"" + text + "\" as " + FormatNumber(value.value_or(0)) + ".";
}

bool IsNumeric(const std::string& text) { return ParseLocaleNumber(text).has_value(); }

namespace {

std::string InUserLocale(std::string s) {
    for (char& c : s)
        if (c == '.') c = g_locale.decimalSeparator;
    return s;
}

}  // namespace

std::string FormatFixed(double value, int decimals) { return InUserLocale(FormatCFixed(value, decimals)); }

std::string FormatNumber(double value) {
    char buf[64];
    std::to_chars_result r;
    if (std::fabs(value - std::round(value)) < 1e-9 && std::fabs(value) < 1e15)
        r = std::to_chars(buf, buf + sizeof buf, std::round(value) + 0.0, std::chars_format::fixed, 0);
    else
        r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 10);
    std::string s(buf, r.ptr);
    if (s == "-0") s = "0";
    return InUserLocale(s);
}

std::optional<double> ParseCNumber(std::string_view text) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    if (i < n && text[i] == '+' && (i + 1 == n || text[i + 1] != '-')) ++i;  // from_chars takes no plus
    if (i == n) return std::nullopt;
    double v = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + n, v);
    if (ec != std::errc() || end != text.data() + n || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> ParseStoredNumber(const std::string& text) {
    if (auto v = ParseCNumber(text)) return v;
    return ParseLocaleNumber(text);
}

std::string FormatCNumber(double value) {
    if (value == 0) return "0";
    // Whole numbers keep their digits (a key of 100000000000 is not 1e+11).
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) return FormatCFixed(value, 0);
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string FormatCFixed(double value, int decimals) {
    // A fixed text of 1e308 has 309 digits.
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return FormatCNumber(value);
    std::string s(buf, end);
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

}  // namespace host::platform
