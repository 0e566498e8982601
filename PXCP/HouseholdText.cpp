#include "PXCP/HouseholdText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pxcp::household {

namespace {

bool IsDigit(char c, bool hex) {
    if (c >= '0' && c <= '9') return true;
    char lower = static_cast<char>(c | 0x20);
    return hex && lower >= 'a' && lower <= 'f';
}

// Whether a number that a double cannot hold is too large for it rather
// than too small: from its digits, the place of the first that is not 0,
// and its exponent.
bool TooLarge(const char* at, const char* end, bool hex) {
    long long order = 0;
    bool seen = false, point = false;
    for (; at < end; ++at) {
        if (*at == '.') {
            point = true;
            continue;
        }
        if (!IsDigit(*at, hex)) break;
        if (*at != '0') seen = true;
        if (seen && !point) ++order;
        if (!seen && point) --order;
    }
    long long exponent = 0;
    if (at < end && (*at | 0x20) == (hex ? 'p' : 'e')) {
        ++at;
        bool negative = at < end && *at == '-';
        if (at < end && (*at == '-' || *at == '+')) ++at;
        for (; at < end && *at >= '0' && *at <= '9'; ++at) exponent = std::min(exponent * 10 + (*at - '0'), 1000000000000LL);
        if (negative) exponent = -exponent;
    }
    return (hex ? order * 4 : order) + exponent > 0;
}

}  // namespace

long WholeNumber(const host::Variant& v) {
    try {
        return v.IsEmpty() ? 0 : v.ToLong();
    } catch (...) {
        return 0;
    }
}

std::string Trimmed(std::string_view s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string_view::npos ? "" : std::string(s.substr(b, e - b + 1));
}

bool IsCountText(const std::string& text) {
    if (text.empty()) return true;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return ec == std::errc() && end == text.data() + text.size();
}

bool IsWholeNumberText(const std::string& text) {
    size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (digits == 1 && text.size() == 1) return false;
    return std::all_of(text.begin() + static_cast<long>(digits), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

long WholeNumberText(std::string_view text) {
    long value = 0;
    std::string trimmed = Trimmed(text);
    std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    return value;
}

std::string NumberKey(double value) {
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end);
}

double LeadingNumber(std::string_view text, size_t& used) {
    used = 0;
    const char* at = text.data();
    const char* end = at + text.size();
    while (at < end && (*at == ' ' || (*at >= '\t' && *at <= '\r'))) ++at;
    bool negative = false;
    if (at < end && (*at == '+' || *at == '-')) negative = *at++ == '-';
    // from_chars takes a minus sign of its own, and no sign after one.
    if (at < end && *at == '-') return 0;
    bool hex = end - at > 2 && at[0] == '0' && (at[1] | 0x20) == 'x' &&
               (IsDigit(at[2], true) || (at[2] == '.' && end - at > 3 && IsDigit(at[3], true)));
    if (hex) at += 2;
    double value = 0;
    auto [stop, ec] = std::from_chars(at, end, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (ec == std::errc::invalid_argument) return 0;
    if (ec == std::errc::result_out_of_range) value = TooLarge(at, stop, hex) ? HUGE_VAL : 0.0;
    used = static_cast<size_t>(stop - text.data());
    return negative ? -value : value;
}

}  // namespace pxcp::household
