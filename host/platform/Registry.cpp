#include "host/platform/Registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "host/platform/Platform.h"
#include "host/platform/TextFile.h"

namespace fs = std::filesystem;

namespace host::platform {

namespace {

using Store = std::map<std::string, std::map<std::string, RegistryValue>>;

std::string HiveName(long hive) { return hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_" + std::to_string(hive); }

// Key names compare without regard to case, as on the platform.
std::string Upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A name that begins like a section or a comment keeps its backslash in
// front, so that it reads back as the value it is.
std::string Escape(const std::string& s) {
    std::string out;
    if (!s.empty() && (s[0] == '[' || s[0] == ';')) out += '\\';
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '=') out += "\\e";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == 'e' ? '=' : n;
    }
    return out;
}

// File layout: "[HIVE\key]" lines, then "name=type:data" lines.
Store Load() {
    Store store;
    std::ifstream in(RegistryFile());
    std::string line, section;
    while (std::getline(in, line)) {
        // A file saved by an editor with CR LF line ends reads the same.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        size_t eq = line.find('='), colon = line.find(':', eq);
        if (section.empty() || eq == std::string::npos || colon == std::string::npos) continue;
        RegistryValue v;
        v.type = std::atoi(line.substr(eq + 1, colon - eq - 1).c_str());
        v.data = Unescape(line.substr(colon + 1));
        store[section][Unescape(line.substr(0, eq))] = v;
    }
    return store;
}

bool Save(const Store& store) {
    std::ostringstream out;
    out << "; registry of the current user, written by Plexa\n";
    for (auto& [section, values] : store) {
        if (values.empty()) continue;
        out << "[" << section << "]\n";
        for (auto& [name, v] : values) out << Escape(name) << "=" << v.type << ":" << Escape(v.data) << "\n";
    }
    // Values here may be secrets (the pass phrase of the credential store).
    return WriteFileAtomically(RegistryFile(), out.str(), 0600);
}

std::string Section(long hive, const std::string& key) { return Upper(HiveName(hive) + "\\" + key); }

}  // namespace

std::string RegistryFile() {
    if (const char* p = std::getenv("PLEXA_REGISTRY"); p && *p) return p;
    return ShellFolderPath(kFolderAppData) + "/plexa/registry.ini";
}

bool RegSetValue(long hive, const std::string& key, const std::string& name, const RegistryValue& value) {
    FileLock lock(RegistryFile());
    Store store = Load();
    store[Section(hive, key)][name] = value;
    return Save(store);
}

std::optional<RegistryValue> RegQueryValue(long hive, const std::string& key, const std::string& name) {
    Store store = Load();
    auto s = store.find(Section(hive, key));
    if (s == store.end()) return std::nullopt;
    auto v = s->second.find(name);
    if (v == s->second.end()) return std::nullopt;
    return v->second;
}

bool RegDeleteValue(long hive, const std::string& key, const std::string& name) {
    FileLock lock(RegistryFile());
    Store store = Load();
    auto s = store.find(Section(hive, key));
    if (s == store.end() || !s->second.erase(name)) return false;
    return Save(store);
}

std::string GetTempName() {
    static std::mt19937 rng(std::random_device{}());
    static const char* chars = "0123456789ABCDEF";
    std::string name = "rad";
    for (int i = 0; i < 5; ++i) name += chars[rng() % 16];
    return name + ".tmp";
}

}  // namespace host::platform
