// The demographic query file (".dmq"): the page-wide options and every
// category's floors and ceilings, in the XML layout shared by the query files.
#pragma once

#include <string>

#include "pages/DemographicQuery.h"

namespace pxcp {

// Writes the model; nothing is written for an empty path. Raises when the
// file cannot be written.
void SaveDMQFile(const DemographicQuery& query, const std::string& path, const std::string& datasetName);

enum class DmqLoad { Unreadable, Stopped, Loaded };

// Reads a file into the model. An unreadable file changes nothing and says
// nothing; a malformed one shows its message and stops, keeping what was
// already applied. Returns how far it got; firstFilled is the index of the
// first category that has values (-1 when none).
DmqLoad LoadDMQFile(DemographicQuery& query, const std::string& path, const std::string& datasetName,
                    long* firstFilled = nullptr);

}  // namespace pxcp
