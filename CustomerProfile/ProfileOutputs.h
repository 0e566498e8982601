// The profile as a dBASE table and as a printout.
#pragma once

#include <string>
#include <vector>

#include "CustomerProfile/CustomerProfileFile.h"
#include "host/platform/Printer.h"

namespace pxcp {

// One grid row as the profile dialog shows it: category (first row of a
// category only), characteristic and average.
struct ProfileGridRow {
    std::string category, characteristic, average;
};
std::vector<ProfileGridRow> ProfileGridRows(const host::Collection& rows);
// The average as shown: the value rounded to a whole number (halves to the
// even neighbour) followed by the chance text; empty without a value.
std::string ProfileAverageText(const std::string& value, const std::string& chance);
// What a row shows as its average: why it could not be profiled, when the
// last profile said so ("Reason"), else its average text.
std::string ProfileAverageCell(const host::Collection& row);

// Writes one table row per characteristic row; false when no table could
// be made (CreateDBF said why). A row that could not be profiled is written
// without an average, and captions longer than their fields are cut.
bool WriteProfileTable(const host::Collection& rows, const std::string& path);

void PrintRecord(host::platform::Printer& printer, const ProfileGridRow& row);
void PrintProfile(host::platform::Printer& printer, const CustomerProfileState& state, int copies);
void PrintProfile(host::platform::Printer& printer, const std::string& header1, const std::string& header2,
                  const std::string& header3, const std::vector<ProfileGridRow>& rows, int copies);

}  // namespace pxcp
