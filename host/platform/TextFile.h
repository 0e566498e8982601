// Text files as the file-system object writes them in Unicode mode:
// UTF-16 little-endian with a byte-order mark, lines ended by CR LF.
// Strings in the program are UTF-8.
#pragma once

#include <string>
#include <vector>

namespace host::platform {

// The lines of a Unicode text file; a missing file is created empty.
// Files without a byte-order mark are read as UTF-8.
std::vector<std::string> ReadUnicodeLines(const std::string& path);
// Creates or replaces the file with the lines, atomically, with the mode.
bool WriteUnicodeLines(const std::string& path, const std::vector<std::string>& lines, unsigned mode = 0644);
// Appends the lines (creating the file with its mark when missing).
bool AppendUnicodeLines(const std::string& path, const std::vector<std::string>& lines);

// Writes the bytes to a unique scratch file beside path, flushes it to the
// disk and renames it over path, so that readers see the old file or the
// new one, never a part. The file gets the mode; a missing folder is made
// with mode 0700 when the file is private (no bits for others). False, with
// nothing changed, when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, unsigned mode = 0644);

// An exclusive lock on path + ".lock" for the life of the object, so that
// read-modify-write updates of a file by several processes come one after
// the other. Locked() is false when the lock file cannot be made.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);

}  // namespace host::platform
