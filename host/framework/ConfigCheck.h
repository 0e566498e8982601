// Checks a dataset configuration before anything runs: the file's own
// structure (unknown elements and attributes, which are mostly typos), and
// what it says of the data (layers that do not open, are not polygons or
// have no coordinate system; key, name and target fields that are missing
// or not numeric). Every problem is reported with the line it is on, so
// that a user can fix them all in one go.
#pragma once

#include <string>
#include <vector>

namespace host {

struct ConfigProblem {
    std::string file;  // the configuration file as given
    int line = 0;      // 1-based; 0 when the problem is the file as a whole
    std::string message;
    // "file:line: message", or "file: message" without a line.
    std::string ToString() const;
};

// Every problem of the configuration at path, in the order of the file;
// empty when the configuration can be used. Never raises.
std::vector<ConfigProblem> CheckConfiguration(const std::string& path);

}  // namespace host
