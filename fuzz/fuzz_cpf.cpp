// Customer profile file: reading it into the state of a profile dialog with
// the sample's three characteristic rows, and saving what was read. A saved
// profile must read back to the same file.
#include <fstream>
#include <sstream>
#include <string>

#include "CustomerProfile/CustomerProfileFile.h"
#include "FuzzSupport.h"

namespace {

const char* kLevelType = "NC Counties";

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

pxcp::CustomerProfileState ThreeRows() {
    pxcp::CustomerProfileState state;
    for (int i = 0; i < 3; ++i) state.rows->Add(std::make_shared<host::Collection>(), std::to_string(i));
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = pxfuzz::WriteInput("profile.cpf", data, size);
    auto state = ThreeRows();
    bool taken = false;
    try {
        taken = pxcp::LoadCPFFile(state, path, kLevelType);
    } catch (const host::RuntimeError&) {
        // A variance that is no number is reported by the dialog as a run-time error.
    }
    if (taken) {
        std::string once = (pxfuzz::Scratch() / "once.cpf").string(), twice = (pxfuzz::Scratch() / "twice.cpf").string();
        pxcp::SaveCPFFile(state, once, kLevelType);
        auto back = ThreeRows();
        if (!pxcp::LoadCPFFile(back, once, kLevelType)) pxfuzz::Violated("a saved profile file does not load");
        pxcp::SaveCPFFile(back, twice, kLevelType);
        if (Slurp(once) != Slurp(twice)) pxfuzz::Violated("a saved profile file reads back to another file");
    }
    pxfuzz::ForgetLogs();
    return 0;
}
