#include "host/framework/HouseholdKind.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "host/Object.h"

namespace host {

const std::vector<std::string>& HouseholdKinds() {
    static const std::vector<std::string> kinds = {"Block group", "Tract", "ZIP code", "County", "State"};
    return kinds;
}

std::string HouseholdKindNamed(const std::string& word) {
    std::string w = UCase(Trim(word));
    for (auto* ch : {"_", "-"}) w = ReplaceAll(w, ch, " ");
    if (w.size() > 1 && w.back() == 'S') w.pop_back();
    if (w.size() > 2 && w.compare(w.size() - 2, 2, "IE") == 0) w = w.substr(0, w.size() - 2) + "Y";  // COUNTIES
    if (w == "BLOCKGROUP" || w == "CENSUS BLOCK GROUP") return "Block group";
    if (w == "CENSUS TRACT") return "Tract";
    if (w == "ZIP" || w == "ZIPCODE" || w == "ZCTA" || w == "POSTCODE") return "ZIP code";
    for (auto& k : HouseholdKinds())
        if (w == UCase(k)) return k;
    return "";
}

std::vector<std::string> HouseholdKindsOfKeys(const std::vector<std::string>& keys, bool number,
                                              const std::string& fieldName) {
    if (keys.empty()) return {};
    std::set<size_t> lengths;
    for (auto& k : keys) {
        if (k.empty() || !std::all_of(k.begin(), k.end(), [](unsigned char ch) { return std::isdigit(ch); })) return {};
        lengths.insert(k.size());
    }
    size_t longest = *lengths.rbegin();
    // A number keeps no leading zero: 1001 beside 37001 is 01001.
    if (lengths.size() > 1 && !(number && lengths.size() == 2 && *lengths.begin() + 1 == longest)) return {};
    switch (longest) {
        case 12: return {"Block group"};
        case 11: return {"Tract"};
        case 2: return {"State"};
        case 5: break;
        default: return {};
    }
    std::string name = UCase(fieldName);
    if (name.find("ZIP") != std::string::npos || name.find("ZCTA") != std::string::npos) return {"ZIP code"};
    if (name.find("FIPS") != std::string::npos || name.find("CNTY") != std::string::npos ||
        name.find("COUNTY") != std::string::npos)
        return {"County"};
    // County keys begin with the state's code; many ZIP codes do not.
    static const std::set<int> states = {1,  2,  4,  5,  6,  8,  9,  10, 11, 12, 13, 15, 16, 17, 18, 19, 20,
                                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37,
                                         38, 39, 40, 41, 42, 44, 45, 46, 47, 48, 49, 50, 51, 53, 54, 55, 56};
    for (auto& k : keys) {
        std::string padded = std::string(longest - k.size(), '0') + k;
        if (!states.count((padded[0] - '0') * 10 + (padded[1] - '0'))) return {"ZIP code"};
    }
    return {"County", "ZIP code"};
}

}  // namespace host
