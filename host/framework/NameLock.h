// A hold on one analysis name among every process that uses an analyses
// folder: an exclusive lock on a file of the folder's ".locks" sub-folder.
// While one NameLock of a name lives, no other (in this process or any
// other) is granted; the lock goes with the object, and with the process
// when it ends in any way, so a killed run never keeps a name. Names are
// told apart without regard to case, as analyses are.
#pragma once

#include <memory>
#include <string>

namespace host {

class NameLock {
public:
    ~NameLock();
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;

    // The name for the caller; null while another holds it.
    static std::unique_ptr<NameLock> Try(const std::string& root, const std::string& name);
    // The name for the caller, once those holding it let go.
    static std::unique_ptr<NameLock> Wait(const std::string& root, const std::string& name);
    // The file that stands for the name (inside root/.locks/).
    static std::string FileOf(const std::string& root, const std::string& name);

private:
    explicit NameLock(int fd) : fd_(fd) {}
    static std::unique_ptr<NameLock> Take(const std::string& root, const std::string& name, bool wait);
    int fd_;
};

}  // namespace host
