// The result table of a job: synthetic household counts per area (the same
// area and query always give the same counts) as a dBASE table with the
// fields GEOG, TQ and TOTAL.
#pragma once

#include <string>

#include "service/hhd/Jobs.h"

namespace hhd {

// Writes the table in a folder of its own inside the scratch folder, reads
// it back into bytes and removes it. False, with why, when any step fails.
bool ResultTable(const Job& job, std::string& bytes, std::string& why);

}  // namespace hhd
