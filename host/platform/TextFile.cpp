#include "host/platform/TextFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace host::platform {

// A byte sequence that is not UTF-8 becomes U+FFFD, one for each byte that
// starts no valid sequence; a lead byte never swallows what follows it
// unless that is a continuation byte, so a line break always stays a line
// break. An over-long sequence ("\xc0\x8a" for a line feed) is no character
// either: decoded, it would put a line break where the text had none.
std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    auto continuation = [&](size_t i) { return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xc0) == 0x80; };
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) cp = c, extra = 0;
        else if ((c >> 5) == 6) cp = c & 0x1f, extra = 1;
        else if ((c >> 4) == 14) cp = c & 0x0f, extra = 2;
        else if ((c >> 3) == 30) cp = c & 0x07, extra = 3;
        else cp = 0xfffd, extra = 0;
        ++i;
        int k = 0;
        for (; k < extra && continuation(i); ++k, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3f);
        static constexpr char32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        if (k < extra || cp < kLeast[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp < 0xe000)) cp = 0xfffd;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xd800 + (cp >> 10));
            out += static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// A surrogate without its partner becomes U+FFFD; the unit after a lone
// high surrogate is read for itself.
std::string Utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xd800 && cp < 0xdc00 && i + 1 < s.size() && s[i + 1] >= 0xdc00 && s[i + 1] < 0xe000)
            cp = 0x10000 + ((cp - 0xd800) << 10) + (s[++i] - 0xdc00);
        else if (cp >= 0xd800 && cp < 0xe000)
            cp = 0xfffd;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xc0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xe0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        }
    }
    return out;
}

namespace {

std::string Encode(const std::vector<std::string>& lines, bool mark) {
    std::string bytes = mark ? std::string("\xff\xfe", 2) : std::string();
    for (auto& line : lines)
        for (char16_t u : Utf8ToUtf16(line + "\r\n")) {
            bytes += static_cast<char>(u & 0xff);
            bytes += static_cast<char>(u >> 8);
        }
    return bytes;
}

}  // namespace

std::vector<std::string> ReadUnicodeLines(const std::string& path) {
    if (!std::filesystem::exists(path)) WriteUnicodeLines(path, {});
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff && static_cast<unsigned char>(bytes[1]) == 0xfe) {
        std::u16string u;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            u += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        text = Utf16ToUtf8(u);
    } else {
        text = bytes;
    }
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

bool WriteUnicodeLines(const std::string& path, const std::vector<std::string>& lines, unsigned mode) {
    return WriteFileAtomically(path, Encode(lines, true), mode);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, unsigned mode) {
    namespace fs = std::filesystem;
    fs::path target = fs::absolute(path);
    std::error_code ec;
    if (!fs::is_directory(target.parent_path(), ec)) {
        if (!fs::create_directories(target.parent_path(), ec)) return false;
        if ((mode & 077) == 0) chmod(target.parent_path().c_str(), 0700);
    }
    std::string scratch = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(scratch.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, static_cast<mode_t>(mode)) == 0;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(scratch.c_str(), target.c_str()) == 0;
    if (!ok) unlink(scratch.c_str());
    return ok;
}

FileLock::FileLock(const std::string& path) {
    std::string lock = path + ".lock";
    fd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        close(fd_);
        fd_ = -1;
        return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
}

bool AppendUnicodeLines(const std::string& path, const std::vector<std::string>& lines) {
    bool fresh = !std::filesystem::exists(path) || std::filesystem::file_size(path) == 0;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << Encode(lines, fresh);
    return static_cast<bool>(out.flush());
}

}  // namespace host::platform
