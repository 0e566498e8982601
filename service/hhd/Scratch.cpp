#include "service/hhd/Scratch.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace hhd {

namespace {

std::string gFolder;
std::mutex gRemoving;

std::string MakeTemporaryFolder(const fs::path& pattern, std::string& why) {
    std::string text = pattern.string();
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        why = "cannot make a folder like " + text + ": " + std::strerror(errno);
        return "";
    }
    return buf.data();
}

}  // namespace

bool MakeScratchFolder(std::string& why) {
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    if (ec) tmp = "/tmp";
    gFolder = MakeTemporaryFolder(tmp / "plexa-hhd-XXXXXX", why);
    if (gFolder.empty()) return false;
    std::atexit(RemoveScratchFolder);

    // SIGTERM and SIGINT wait for a thread of their own: every other thread
    // (started after this) inherits the blocked mask.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops] {
        int signal = 0;
        sigwait(&stops, &signal);
        RemoveScratchFolder();
        // Requests in flight are dropped: the service stops at once, as
        // it did when the signal killed it.
        _exit(0);
    }).detach();
    return true;
}

const std::string& ScratchFolder() { return gFolder; }

std::string MakeScratchSubfolder(std::string& why) {
    return MakeTemporaryFolder(fs::path(gFolder) / "table-XXXXXX", why);
}

void RemoveScratchFolder() {
    std::lock_guard<std::mutex> lock(gRemoving);
    if (gFolder.empty()) return;
    std::error_code ec;
    fs::remove_all(gFolder, ec);
    if (ec) std::cerr << "plexa-hhd: cannot remove " << gFolder << ": " << ec.message() << std::endl;
    gFolder.clear();
}

}  // namespace hhd
