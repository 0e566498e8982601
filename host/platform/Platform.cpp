#include "host/platform/Platform.h"

#include "host/platform/Help.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace host::platform {

namespace {
std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}
std::string Home() { return EnvOr("HOME", "/tmp"); }
}  // namespace

std::string ShellFolderPath(int folderId) {
    std::string path;
    switch (folderId) {
        case kFolderAppData: path = EnvOr("XDG_CONFIG_HOME", Home() + "/.config"); break;
        case kFolderInternetCache: path = EnvOr("XDG_CACHE_HOME", Home() + "/.cache") + "/plexa"; break;
        case kFolderPersonal: path = Home() + "/Documents"; break;
        default: return "";
    }
    std::error_code ec;
    fs::create_directories(path, ec);
    return ec ? "" : path;
}

std::vector<HelpRequest>& HelpLog() {
    static std::vector<HelpRequest> log;
    return log;
}

void ShowHelpTopic(long, const std::string& file, long command, const std::string& topic) {
    HelpLog().push_back({file, command, topic});
    if (auto t = FindHelpTopic(topic)) ShowTopic(*t);
    else std::cerr << "help: the topic " << topic << " is not installed (help folder: " << HelpFolder() << ")\n";
}

long FindExecutable(const std::string& file, std::string& executable) {
    if (!fs::exists(file)) return 2;  // file not found
    for (const char* candidate : {"/usr/bin/xdg-open", "/usr/bin/sensible-browser", "/usr/bin/x-www-browser"}) {
        if (fs::exists(candidate)) {
            executable = candidate;
            return 42;
        }
    }
    return 31;  // no association
}

long ShellOpen(const std::string& executable, const std::string& parameters) {
    if (executable.empty() || !fs::exists(executable)) return 2;
    std::string quoted = "'";
    for (char c : parameters) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    std::string cmd = executable + " " + quoted + " >/dev/null 2>&1 &";
    return std::system(cmd.c_str()) == 0 ? 42 : 5;
}

ScreenMetrics& Screen() {
    static ScreenMetrics m;
    return m;
}

}  // namespace host::platform
