// The kinds of area the household-data service counts households by, and
// how a level's keys tell which one it is: 12 digits a block group, 11 a
// tract, 5 a county or a ZIP code, 2 a state.
#pragma once

#include <string>
#include <vector>

namespace host {

// "Block group", "Tract", "ZIP code", "County", "State": the words a
// household level's level attribute takes (in any case).
const std::vector<std::string>& HouseholdKinds();

// The kind a word names ("block groups", "ZIP", "Counties"), as
// HouseholdKinds spells it; empty when it names none.
std::string HouseholdKindNamed(const std::string& word);

// The kinds whose keys look like these (the key texts of every area;
// number says the key field holds numbers, which lose leading zeros). Empty
// when the keys are of no kind the service knows; two for 5-digit keys
// unless they say more (a first pair of digits that is no state code is a
// ZIP code's), or the field's name does (ZIP, FIPS).
std::vector<std::string> HouseholdKindsOfKeys(const std::vector<std::string>& keys, bool number,
                                              const std::string& fieldName);

}  // namespace host
