// Writes a dataset configuration for an analyst's own polygon layers, so
// that nobody has to write one by hand: every numeric field becomes a
// target, families of fields by period (POP1990, POP2000; HR7984, HR8488)
// become years of one target, and counts can be measured against a base
// field. What it writes passes plexa check.
#pragma once

#include <string>
#include <vector>

namespace host {

struct DatasetInitLevel {
    std::string caption;  // the geography level as the analyst names it ("Tracts")
    std::string source;   // "PATH" or "PATH|LAYER"
    // With the household way: the kind of area the service counts by
    // ("Block group" ... "State"); found from the keys when empty.
    std::string householdKind;
};

struct DatasetInitOptions {
    std::string name;  // the dataset's name
    std::vector<DatasetInitLevel> levels;
    std::string idField;    // key of the areas; found in the data when empty
    std::string descField;  // name of the areas; found in the data when empty
    std::string baseField;  // percent base of the count fields; none when empty
    std::string srs;        // coordinate system for layers whose file has none
    // The periods to keep as years ("1990", "1979-84", or a suffix as
    // written); the latest three when empty.
    std::vector<std::string> years;
    bool household = false; // add the household way with its standard categories
    std::string outPath;    // where the file goes: sources are written relative to its folder
};

// The configuration text. Raises with one clear message (naming the level
// and the fix) when a layer cannot be used.
std::string MakeDatasetConfiguration(const DatasetInitOptions& options);

}  // namespace host
