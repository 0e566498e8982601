// Registry and seed routines of the credential store.
#pragma once

#include <string>

namespace pxcp {

// Sets a string value (created with its key when needed).
bool WriteRegistryString(long hive, const std::string& key, const std::string& valueName, const std::string& value);
// The value when it is a string, cut at the first NUL; empty otherwise.
std::string ReadRegistryString(long hive, const std::string& key, const std::string& valueName);
// Five random characters: a fresh temporary file name's base without "rad".
std::string MakeKeySeed();

}  // namespace pxcp
