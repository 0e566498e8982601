// How the household function reads the counts and keys of the result table
// and of the geography layer, and the text it compares keys by. Numbers are
// read and written the same way whatever the user's locale.
#pragma once

#include <string>
#include <string_view>

#include "host/framework/Framework.h"

namespace pxcp::household {

inline const char* const kStatesLayer = "US.Demography.States";

// A count from the result table; what cannot be read counts as 0.
long WholeNumber(const host::Variant& v);

// s without its leading and trailing blanks.
std::string Trimmed(std::string_view s);

// A count as the table holds it: blank (no count) or a whole decimal number.
bool IsCountText(const std::string& text);

// A count that the GIS layer reads as the same whole number: blank (no
// count) or decimal digits after an optional minus sign.
bool IsWholeNumberText(const std::string& text);

// The whole number of a count's text between blanks; 0 when it has none.
long WholeNumberText(std::string_view text);

// A numeric key by its value, as the areas and the rows both spell it: the
// shortest text that reads back as the same value.
std::string NumberKey(double value);

// The number at the start of text, read as C's strtod reads it in the "C"
// locale: after white space, an optional sign, then a decimal or "0x"
// hexadecimal number, an infinity or a NaN; infinity or zero when beyond
// the range of a double. used is how many characters that took, 0 (and the
// value 0) when text starts with no number.
double LeadingNumber(std::string_view text, size_t& used);

}  // namespace pxcp::household
