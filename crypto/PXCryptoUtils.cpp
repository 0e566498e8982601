#include "crypto/PXCryptoUtils.h"

#include <filesystem>

#include "host/platform/Registry.h"

namespace pxcp {

using namespace host::platform;

bool WriteRegistryString(long hive, const std::string& key, const std::string& valueName, const std::string& value) {
    return RegSetValue(hive, key, valueName, {REG_SZ, value});
}

std::string ReadRegistryString(long hive, const std::string& key, const std::string& valueName) {
    auto v = RegQueryValue(hive, key, valueName);
    if (!v || v->type != REG_SZ) return "";
    return v->data.substr(0, v->data.find('\0'));
}

std::string MakeKeySeed() {
    std::string base = std::filesystem::path(GetTempName()).stem().string();
    return base.substr(3);
}

}  // namespace pxcp
