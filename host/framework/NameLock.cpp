#include "host/framework/NameLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "host/Object.h"

namespace fs = std::filesystem;

namespace host {

std::string NameLock::FileOf(const std::string& root, const std::string& name) {
    // Letters and digits stand for themselves, every other byte for its
    // code, so that no two names share a file and every name makes one.
    static const char* hex = "0123456789ABCDEF";
    std::string key;
    for (unsigned char c : UCase(name)) {
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            key += static_cast<char>(c);
        } else {
            key += '%';
            key += hex[c >> 4];
            key += hex[c & 15];
        }
    }
    if (key.size() > 200) key = key.substr(0, 180) + "~" + std::to_string(std::hash<std::string>{}(key));
    return (fs::path(root) / ".locks" / (key + ".lock")).string();
}

std::unique_ptr<NameLock> NameLock::Take(const std::string& root, const std::string& name, bool wait) {
    std::string path = FileOf(root, name);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        Raise(kErrPathNotFound, "The analysis " + name + " cannot be reserved in " + root + ": " + std::strerror(errno));
    // The lock belongs to this open file: another open of the same file,
    // even in this process, waits for it; closing it (or ending the
    // process) lets go. The file itself stays, so that everyone always
    // locks the same one.
    int r;
    do {
        r = flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        int why = errno;
        close(fd);
        if (why == EWOULDBLOCK) return nullptr;
        Raise(kErrPathNotFound, "The analysis " + name + " cannot be reserved in " + root + ": " + std::strerror(why));
    }
    return std::unique_ptr<NameLock>(new NameLock(fd));
}

std::unique_ptr<NameLock> NameLock::Try(const std::string& root, const std::string& name) { return Take(root, name, false); }

std::unique_ptr<NameLock> NameLock::Wait(const std::string& root, const std::string& name) { return Take(root, name, true); }

NameLock::~NameLock() { close(fd_); }

}  // namespace host
