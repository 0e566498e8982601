// Registration of the library's public classes under their ProgIDs.
#pragma once

namespace pxcp {
void RegisterPXCPClasses();
}
