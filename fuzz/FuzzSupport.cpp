#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/forms/Forms.h"
#include "host/forms/ScriptedDriver.h"
#include "host/framework/ErrorHandler.h"
#include "host/platform/Platform.h"

namespace fs = std::filesystem;

namespace pxfuzz {

namespace {

struct ScratchFolder {
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pxcp-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("pxcp fuzz: no scratch folder");
            std::abort();
        }
        path = pattern;
        fs::create_directories(path / "home");
        fs::create_directories(path / "config");
        fs::create_directories(path / "tmp");
        setenv("HOME", (path / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (path / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (path / "home").c_str(), 1);
        setenv("TMPDIR", (path / "tmp").c_str(), 1);
        setenv("PLEXA_REGISTRY", (path / "registry.ini").c_str(), 1);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

}  // namespace

const fs::path& Scratch() {
    static ScratchFolder folder;
    return folder.path;
}

void SetUpHost() {
    Scratch();
    host::RegisterHostClasses();
    host::forms::SetDriver(std::make_shared<host::forms::ScriptedDriver>());
    host::ErrorHandler::SetSink([](const host::ErrorReport&) {});
}

void ForgetLogs() {
    host::forms::MessageLog().clear();
    host::forms::MessageLog().shrink_to_fit();
    host::ErrorHandler::Log().clear();
    host::ErrorHandler::Log().shrink_to_fit();
    host::platform::HelpLog().clear();
    host::platform::HelpLog().shrink_to_fit();
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = (Scratch() / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

std::string SourcePath(const std::string& relative) { return std::string(PXCP_SOURCE_DIR) + "/" + relative; }

const host::HostConfiguration& SampleConfiguration() {
    static const host::HostConfiguration cfg = host::LoadHostConfiguration(SourcePath("data/nc.xml"));
    return cfg;
}

host::TaskEntryPtr SampleLevel(const std::string& entryName) {
    for (auto& ds : SampleConfiguration().datasets)
        for (auto& task : ds->tasks)
            for (auto& sub : task->subEntries)
                if (sub->name == entryName) return sub;
    Violated("data/nc.xml has no level " + entryName);
}

namespace {
std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

void ExpectSavedFileReadsBack(const std::string& what, const std::string& extension,
                              const std::function<void(const std::string& to)>& save,
                              const std::function<void(const std::string& from, const std::string& to)>& resave) {
    std::string once = (Scratch() / ("once" + extension)).string(), twice = (Scratch() / ("twice" + extension)).string();
    save(once);
    resave(once, twice);
    if (ReadWhole(once) != ReadWhole(twice)) Violated("a saved " + what + " reads back to another file");
}

void Violated(const std::string& what) {
    std::fprintf(stderr, "pxcp fuzz: %s\n", what.c_str());
    std::abort();
}

}  // namespace pxfuzz
