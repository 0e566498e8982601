// The host's own classes under the ProgIDs the library creates them by.
#pragma once

namespace host {

// Registers the host classes under their ProgIDs.
void RegisterHostClasses();

}  // namespace host
