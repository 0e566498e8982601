// What every fuzz target shares: a private scratch folder for the files a
// reader needs on disk, quiet message and error sinks, and clearing of the
// host's logs so that no iteration leaves state behind for the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "host/Object.h"
#include "host/framework/Framework.h"

namespace pxfuzz {

// The scratch folder of this process, made on first use under $TMPDIR and
// removed when the process ends. HOME, XDG_CONFIG_HOME, TMPDIR and
// PLEXA_REGISTRY point into it, so nothing a reader writes lands elsewhere.
const std::filesystem::path& Scratch();

// Installs a scripted forms driver that answers every message box, silences
// the error handler's sink and registers the host classes. Call once.
void SetUpHost();

// Clears the logs the host keeps for the whole process (messages, errors,
// help requests); called after every input.
void ForgetLogs();

// Writes the bytes to a file in the scratch folder; returns its path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);

// The dataset configuration of the sample data (data/nc.xml), read once:
// the real catalogues of the demographic and the household level.
const host::HostConfiguration& SampleConfiguration();
host::TaskEntryPtr SampleLevel(const std::string& entryName);

// A repository file, for seeds and samples.
std::string SourcePath(const std::string& relative);

// A saved file must read back to itself: `save` writes the loaded input to
// one file (named with the extension), `resave` reads that file and writes it again to another, and the
// two must be byte for byte alike (`what` names the kind of file).
void ExpectSavedFileReadsBack(const std::string& what, const std::string& extension,
                              const std::function<void(const std::string& to)>& save,
                              const std::function<void(const std::string& from, const std::string& to)>& resave);

// Stops the process with a message when a property of the readers does not
// hold; libFuzzer keeps the input as a crash.
[[noreturn]] void Violated(const std::string& what);

}  // namespace pxfuzz
