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
// Creates or overwrites the file with the lines.
bool WriteUnicodeLines(const std::string& path, const std::vector<std::string>& lines);
// Appends the lines (creating the file with its mark when missing).
bool AppendUnicodeLines(const std::string& path, const std::vector<std::string>& lines);

std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);

}  // namespace host::platform
