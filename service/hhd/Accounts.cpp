#include "service/hhd/Accounts.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>

namespace hhd {

namespace {

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &n, EVP_sha256(), nullptr) != 1) {
        std::cerr << "plexa-hhd: SHA-256 is not available\n";
        std::exit(1);
    }
    return Hex(digest, n);
}

bool SameText(const std::string& a, const std::string& b) {
    // Takes as long for a near miss as for a far one.
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

std::string Base64Decode(const std::string& in) {
    std::string out;
    int bits = 0;
    unsigned value = 0;
    for (unsigned char c : in) {
        int d;
        if (c >= 'A' && c <= 'Z') d = c - 'A';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
        else if (c >= '0' && c <= '9') d = c - '0' + 52;
        else if (c == '+') d = 62;
        else if (c == '/') d = 63;
        else break;
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

}  // namespace

std::string RandomHex(size_t digits, bool upper) {
    static std::random_device device;
    static std::mutex mu;
    std::lock_guard<std::mutex> lock(mu);
    std::string out;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (out.size() < digits) {
        unsigned v = device();
        for (int i = 0; i < 8 && out.size() < digits; ++i, v >>= 4) out += set[v & 15];
    }
    return out;
}

Account MakeAccount(const std::string& password) {
    Account a;
    a.salt = RandomHex(32, false);
    a.hash = Sha256Hex(a.salt + password);
    return a;
}

bool ReadAccounts(const std::string& path, Accounts& users, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        why = "cannot read " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        std::string hash = b == std::string::npos ? "" : line.substr(b + 1);
        bool hex = hash.size() == 64 && hash.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (a == 0 || b == std::string::npos || !hex) {
            why = path + ":" + std::to_string(number) + ": not a user:salt:sha256-hex line";
            return false;
        }
        for (auto& c : hash) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        users[line.substr(0, a)] = Account{line.substr(a + 1, b - a - 1), hash};
    }
    return true;
}

std::string LoggedInUser(const std::string& authorization, const Accounts& users) {
    if (authorization.rfind("Basic ", 0) != 0) return "";
    std::string pair = Base64Decode(authorization.substr(6));
    size_t c = pair.find(':');
    if (c == std::string::npos || c == 0) return "";
    std::string user = pair.substr(0, c);
    auto it = users.find(user);
    if (it == users.end() || !SameText(Sha256Hex(it->second.salt + pair.substr(c + 1)), it->second.hash)) return "";
    return user;
}

}  // namespace hhd
