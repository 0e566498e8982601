#include "host/platform/Locale.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::optional<double> ParseLocaleNumber(const std::string& text) {
    const char dec = g_locale.decimalSeparator;
    const char grp = g_locale.groupSeparator;
    std::string s;
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    if (i == n) return std::nullopt;
    bool digits = false, seenDec = false, seenExp = false;
    for (size_t k = i; k < n; ++k) {
        char c = text[k];
        if (c >= '0' && c <= '9') {
            s += c;
            digits = true;
        } else if (c == dec && !seenDec && !seenExp) {
            s += '.';
            seenDec = true;
        } else if (c == grp && !seenDec && !seenExp && digits) {
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
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (!end || *end) return std::nullopt;
    return v;
}

bool IsNumeric(const std::string& text) { return ParseLocaleNumber(text).has_value(); }

std::string FormatFixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string s = buf;
    if (s == "-0.00" || (s.size() > 1 && s[0] == '-' && std::strtod(buf, nullptr) == 0.0)) s.erase(0, 1);
    for (char& c : s)
        if (c == '.') c = g_locale.decimalSeparator;
    return s;
}

std::string FormatNumber(double value) {
    char buf[64];
    if (std::fabs(value - std::round(value)) < 1e-9 && std::fabs(value) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", std::round(value));
    } else {
        std::snprintf(buf, sizeof buf, "%.10g", value);
    }
    std::string s = buf;
    for (char& c : s)
        if (c == '.') c = g_locale.decimalSeparator;
    return s;
}

}  // namespace host::platform
