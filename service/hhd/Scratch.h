// The private scratch folder of plexa-hhd: made once at start under the
// temporary directory ($TMPDIR or /tmp) with mkdtemp, so its name cannot be
// guessed and only this user may enter it (0700); removed with all in it
// when the service ends, also by SIGTERM or SIGINT.
#pragma once

#include <string>

namespace hhd {

// Makes the folder; false with why when it cannot be made. Call once,
// before any thread is started (it also routes SIGTERM and SIGINT to a
// thread of its own that removes the folder and exits).
bool MakeScratchFolder(std::string& why);

// The folder made, or empty before.
const std::string& ScratchFolder();

// A new folder inside the scratch folder, named at random; empty with why
// when it cannot be made.
std::string MakeScratchSubfolder(std::string& why);

// Removes the scratch folder and everything in it. Safe to call twice.
void RemoveScratchFolder();

}  // namespace hhd
