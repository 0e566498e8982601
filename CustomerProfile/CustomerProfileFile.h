// The customer profile file (".cpf"): the profile dialog's headers, its
// profile and populate options and every characteristic row.
#pragma once

#include <string>

#include "host/Object.h"

namespace pxcp {

// What the profile dialog keeps and the file stores. Rows are keyed
// collections with "First", "Cat.caption", "Target.caption", "0", "1",
// "2", "3", "Value" and "Chance".
struct CustomerProfileState {
    std::string header1, header2, header3;
    bool selected = false;        // m_bSelected
    int manner = 2;               // 0 floor, 1 ceiling, 2 floor and ceiling
    int16_t variance = 10;
    bool clearBefore = false;     // m_bClearBefore
    host::CollectionPtr rows = std::make_shared<host::Collection>();  // m_pStateCol
};

// Nothing is written for an empty path; raises when the file cannot be written.
void SaveCPFFile(const CustomerProfileState& state, const std::string& path, const std::string& subTaskType);
// True when the rows were taken over. A file for another task type or with
// another number of rows leaves the rows alone.
bool LoadCPFFile(CustomerProfileState& state, const std::string& path, const std::string& subTaskType);

}  // namespace pxcp
