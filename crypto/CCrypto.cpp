#include "crypto/CCrypto.h"

#include "crypto/CMD5.h"

namespace pxcp {

namespace {

// RC2's permutation of the bytes, from the digits of pi.
constexpr uint8_t kPiTable[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad};

uint16_t Rol(uint16_t x, int s) { return static_cast<uint16_t>((x << s) | (x >> (16 - s))); }
uint16_t Ror(uint16_t x, int s) { return static_cast<uint16_t>((x >> s) | (x << (16 - s))); }
constexpr int kRot[4] = {1, 2, 3, 5};

// The base provider derives 40-bit keys: the first five bytes of the hash.
constexpr size_t kKeyBytes = 5;

std::vector<uint8_t> DeriveKey(const std::string& passPhrase) {
    auto digest = CMD5::Digest(passPhrase);
    return std::vector<uint8_t>(digest.begin(), digest.begin() + kKeyBytes);
}

}  // namespace

RC2::RC2(const std::vector<uint8_t>& key, int effectiveBits) {
    uint8_t l[128] = {};
    size_t t = key.size();
    for (size_t i = 0; i < t && i < 128; ++i) l[i] = key[i];
    for (size_t i = t; i < 128; ++i) l[i] = kPiTable[(l[i - 1] + l[i - t]) & 255];
    int t8 = (effectiveBits + 7) / 8;
    uint8_t tm = static_cast<uint8_t>(0xff >> (8 * t8 - effectiveBits));
    l[128 - t8] = kPiTable[l[128 - t8] & tm];
    for (int i = 127 - t8; i >= 0; --i) l[i] = kPiTable[l[i + 1] ^ l[i + t8]];
    for (int i = 0; i < 64; ++i) k_[i] = static_cast<uint16_t>(l[2 * i] | l[2 * i + 1] << 8);
}

void RC2::EncryptBlock(uint8_t b[8]) const {
    uint16_t r[4];
    for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
    int j = 0;
    auto mix = [&] {
        for (int i = 0; i < 4; ++i) {
            uint16_t r1 = r[(i + 3) & 3], r2 = r[(i + 2) & 3], r3 = r[(i + 1) & 3];
            r[i] = static_cast<uint16_t>(r[i] + k_[j++] + (r1 & r2) + (~r1 & r3));
            r[i] = Rol(r[i], kRot[i]);
        }
    };
    auto mash = [&] {
        for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(r[i] + k_[r[(i + 3) & 3] & 63]);
    };
    for (int n = 0; n < 5; ++n) mix();
    mash();
    for (int n = 0; n < 6; ++n) mix();
    mash();
    for (int n = 0; n < 5; ++n) mix();
    for (int i = 0; i < 4; ++i) {
        b[2 * i] = static_cast<uint8_t>(r[i]);
        b[2 * i + 1] = static_cast<uint8_t>(r[i] >> 8);
    }
}

void RC2::DecryptBlock(uint8_t b[8]) const {
    uint16_t r[4];
    for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
    int j = 63;
    auto mix = [&] {
        for (int i = 3; i >= 0; --i) {
            r[i] = Ror(r[i], kRot[i]);
            uint16_t r1 = r[(i + 3) & 3], r2 = r[(i + 2) & 3], r3 = r[(i + 1) & 3];
            r[i] = static_cast<uint16_t>(r[i] - k_[j--] - (r1 & r2) - (~r1 & r3));
        }
    };
    auto mash = [&] {
        for (int i = 3; i >= 0; --i) r[i] = static_cast<uint16_t>(r[i] - k_[r[(i + 3) & 3] & 63]);
    };
    for (int n = 0; n < 5; ++n) mix();
    mash();
    for (int n = 0; n < 6; ++n) mix();
    mash();
    for (int n = 0; n < 5; ++n) mix();
    for (int i = 0; i < 4; ++i) {
        b[2 * i] = static_cast<uint8_t>(r[i]);
        b[2 * i + 1] = static_cast<uint8_t>(r[i] >> 8);
    }
}

std::vector<uint8_t> RC4(const std::vector<uint8_t>& key, const std::vector<uint8_t>& data) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 255;
        std::swap(s[i], s[j]);
    }
    std::vector<uint8_t> out(data.size());
    for (size_t n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        out[n] = data[n] ^ s[(s[i] + s[j]) & 255];
    }
    return out;
}

std::string CCrypto::Crypt(const std::string& text, const std::string& passPhrase, bool encrypt, int algorithm) const {
    if (passPhrase.empty()) return "";
    auto key = DeriveKey(passPhrase);
    std::vector<uint8_t> data(text.begin(), text.end());
    if (algorithm != kRC2) {
        auto out = RC4(key, data);
        return std::string(out.begin(), out.end());
    }
    RC2 cipher(key, static_cast<int>(kKeyBytes * 8));
    uint8_t chain[8] = {};
    if (encrypt) {
        size_t pad = 8 - data.size() % 8;
        data.insert(data.end(), pad, static_cast<uint8_t>(pad));
        for (size_t off = 0; off < data.size(); off += 8) {
            for (int i = 0; i < 8; ++i) data[off + i] ^= chain[i];
            cipher.EncryptBlock(&data[off]);
            std::copy(&data[off], &data[off] + 8, chain);
        }
        return std::string(data.begin(), data.end());
    }
    if (data.empty() || data.size() % 8 != 0) return "";
    for (size_t off = 0; off < data.size(); off += 8) {
        uint8_t block[8];
        std::copy(&data[off], &data[off] + 8, block);
        cipher.DecryptBlock(&data[off]);
        for (int i = 0; i < 8; ++i) data[off + i] ^= chain[i];
        std::copy(block, block + 8, chain);
    }
    // A wrong pass phrase shows as padding that does not check out.
    uint8_t pad = data.back();
    if (pad < 1 || pad > 8) return "";
    for (size_t i = data.size() - pad; i < data.size(); ++i)
        if (data[i] != pad) return "";
    data.resize(data.size() - pad);
    return std::string(data.begin(), data.end());
}

std::string CCrypto::Encrypt(const std::string& sTextToEncrypt, const std::string& sPrivateKey, bool bReturnTextInHex,
                             int enEncryptionType) const {
    if ((enEncryptionType != kRC2 && enEncryptionType != kRC4) || sTextToEncrypt.empty() || sPrivateKey.empty())
        return "";
    std::string cipher = Crypt(sTextToEncrypt, sPrivateKey, true, enEncryptionType);
    return bReturnTextInHex ? StringToHex(cipher) : cipher;
}

std::string CCrypto::Decrypt(const std::string& sTextToDecrypt, const std::string& sPrivateKey,
                             bool bTextSuppliedInHex, int enEncryptionType) const {
    if ((enEncryptionType != kRC2 && enEncryptionType != kRC4) || sTextToDecrypt.empty() || sPrivateKey.empty())
        return "";
    std::string cipher = bTextSuppliedInHex ? HexToString(sTextToDecrypt) : sTextToDecrypt;
    if (cipher.empty()) return "";
    return Crypt(cipher, sPrivateKey, false, enEncryptionType);
}

std::string CCrypto::StringToHex(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : text) {
        s += hex[c >> 4];
        s += hex[c & 15];
    }
    return s;
}

std::string CCrypto::HexToString(const std::string& hex) {
    if (hex.size() % 2) return "";
    auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    std::string s;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return "";
        s += static_cast<char>(hi * 16 + lo);
    }
    return s;
}

}  // namespace pxcp
