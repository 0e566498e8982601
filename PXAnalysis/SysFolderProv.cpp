#include "PXAnalysis/SysFolderProv.h"

#include <cstring>
#include <filesystem>

#include "host/platform/Platform.h"

namespace pxcp {

std::string SysFolderProv::GetSystemFolder(long, int nFolder, long, const std::string& sSubFolder) {
    std::string path = host::platform::ShellFolderPath(nFolder);
    if (path.empty()) return "";
    // The shell answers in a fixed buffer of 260 characters ending in NUL.
    char buffer[261];
    std::memset(buffer, ' ', sizeof buffer);
    size_t n = std::min<size_t>(path.size(), 259);
    std::memcpy(buffer, path.c_str(), n);
    buffer[n] = '\0';
    std::string answer(buffer, 260);
    answer.erase(answer.find_last_not_of(' ') + 1);
    if (!answer.empty()) answer.pop_back();
    std::string result = answer + sSubFolder;
    if (!sSubFolder.empty()) {
        std::error_code ec;
        if (!std::filesystem::exists(result)) std::filesystem::create_directory(result, ec);
    }
    return result;
}

}  // namespace pxcp
