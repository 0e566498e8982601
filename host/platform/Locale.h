// The user's locale as far as the library depends on it: the thread locale
// id, its ANSI code page and the decimal separator used to read and write
// numbers typed by the analyst. Numbers of files, where-clauses, service
// replies and scripts are "C numbers" instead: "." as the decimal point
// whatever the locale of the user or of the C library (which the desktop's
// toolkit sets from the environment). Nothing here depends on the C
// library's locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host::platform {

struct UserLocale {
    long lcid = 1033;
    char decimalSeparator = '.';
    char groupSeparator = ',';
};

const UserLocale& CurrentLocale();
void SetCurrentLocale(const UserLocale& locale);
// Sets the C library's locale from the environment, as the desktop's
// toolkit does when it starts, but keeps the system's messages (the texts of
// error numbers) in English, the language of the program's own texts.
void UseEnvironmentLocale();
// Picks the locale from PLEXA_LOCALE (an id such as 1031) or LC_NUMERIC/LANG.
void InitLocaleFromEnvironment();

// Locale information item 4100: the default ANSI code page of a locale.
std::string LocaleAnsiCodePage(long lcid);
// Decimal separator conventionally used by a locale id.
char LocaleDecimalSeparator(long lcid);

// Reads text as a number in the current locale (blanks around are allowed,
// group separators are accepted). Empty when the text is not numeric.
// A text that cannot be a grouped number of the locale, because a group
// separator is followed by fewer than three digits ("0.3" or "12.5" where
// the decimal separator is ","), is read with that separator as the decimal
// point: numbers written under another locale keep their value.
std::optional<double> ParseLocaleNumber(const std::string& text);
// The same; otherSeparator tells that the text was read with the group
// separator as the decimal point, so that a caller can warn.
std::optional<double> ParseLocaleNumber(const std::string& text, bool& otherSeparator);
// The warning shown when numbers in where (a file) were read with the other
// separator as the decimal point; text is one of them.
std::string OtherSeparatorWarning(const std::string& where, const std::string& text);
bool IsNumeric(const std::string& text);
// Formats with the pattern "###0.00" style: at least one integer digit and
// exactly `decimals` decimals, no grouping, the locale's separator.
std::string FormatFixed(double value, int decimals);
// Shortest natural text of a number in the current locale ("12.5", "100").
std::string FormatNumber(double value);

// Reads a C number: "." as the decimal point, no grouping, an exponent
// allowed, blanks around allowed. Empty when the text is anything else,
// also for infinities and NaN.
std::optional<double> ParseCNumber(std::string_view text);
// The shortest C number that reads back as the same value ("12.5", "0.1",
// "1e+20"); whole numbers below 1e15 are written with all their digits
// ("100000000000"), -0 as "0".
std::string FormatCNumber(double value);
// Reads a number that a file keeps as text: a C number, or else a number
// of the user's locale, as earlier versions wrote (never with grouping, so
// "1.234" is always 1.234).
std::optional<double> ParseStoredNumber(const std::string& text);
// A C number with exactly `decimals` decimals ("12.50"); a value that
// rounds to zero is written without a sign.
std::string FormatCFixed(double value, int decimals);

}  // namespace host::platform
