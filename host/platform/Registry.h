// The registry of the current user, kept in a text file in the user's
// configuration folder. Keys are paths like "Software\Velmar\Plexa\Security";
// values have a name, a type (1 string, 4 number) and a text.
#pragma once

#include <optional>
#include <string>

namespace host::platform {

constexpr long HKEY_CURRENT_USER = static_cast<long>(0x80000001);
constexpr int REG_SZ = 1;
constexpr int REG_DWORD = 4;

struct RegistryValue {
    int type = REG_SZ;
    std::string data;
};

// The file behind the registry; PLEXA_REGISTRY overrides it.
std::string RegistryFile();
// Creates the key when needed and sets the value; false when the store
// cannot be written. The file is replaced whole, through a scratch copy.
bool RegSetValue(long hive, const std::string& key, const std::string& name, const RegistryValue& value);
std::optional<RegistryValue> RegQueryValue(long hive, const std::string& key, const std::string& name);
bool RegDeleteValue(long hive, const std::string& key, const std::string& name);

// "Scripting.FileSystemObject" GetTempName: "rad" and five characters, ".tmp".
std::string GetTempName();

}  // namespace host::platform
