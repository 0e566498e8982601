// Dataset configuration: the host's reader and the configuration checker on
// one file. The file lies next to a link to the sample data, so that the
// checker also opens layers and reads fields the way a real configuration
// makes it.
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "host/framework/ConfigCheck.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    std::error_code ec;
    fs::create_symlink(pxfuzz::SourcePath("data/sample"), pxfuzz::Scratch() / "sample", ec);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = pxfuzz::WriteInput("dataset.xml", data, size);
    bool loaded = false;
    std::string why;
    try {
        host::LoadHostConfiguration(path);
        loaded = true;
    } catch (const std::exception& e) {
        why = e.what();
    }
    std::vector<host::ConfigProblem> problems;
    try {
        problems = host::CheckConfiguration(path);
    } catch (const std::exception& e) {
        pxfuzz::Violated(std::string("the configuration checker raised: ") + e.what());
    }
    // A configuration the checker passes is one the host can read.
    if (problems.empty() && !loaded) pxfuzz::Violated("the checker passed a configuration the reader refuses: " + why);
    for (auto& p : problems) (void)p.ToString();
    pxfuzz::ForgetLogs();
    return 0;
}
