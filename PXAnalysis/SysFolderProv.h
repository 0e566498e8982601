// "PXCP.SysFolderProv": paths of the user's system folders.
#pragma once

#include <string>

#include "host/Object.h"

namespace pxcp {

class SysFolderProv : public host::Object {
public:
    std::string TypeName() const override { return "SysFolderProv"; }
    // The owner window and token are accepted and not used. sSubFolder
    // carries its own leading separator; that one level is created.
    std::string GetSystemFolder(long hwndOwner, int nFolder, long hToken, const std::string& sSubFolder);
};

}  // namespace pxcp
