// Password encryption as the platform's base cryptographic provider does
// it: the key is derived from the MD5 hash of the pass phrase (40 bits, no
// salt), then RC2 in CBC mode with a zero initialisation vector and PKCS #5
// padding (type 1), or RC4 (type 2).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pxcp {

// The RC2 block cipher (RFC 2268) on one 8-byte block.
class RC2 {
public:
    RC2(const std::vector<uint8_t>& key, int effectiveBits);
    void EncryptBlock(uint8_t block[8]) const;
    void DecryptBlock(uint8_t block[8]) const;

private:
    std::array<uint16_t, 64> k_{};
};

// The RC4 stream cipher.
std::vector<uint8_t> RC4(const std::vector<uint8_t>& key, const std::vector<uint8_t>& data);

class CCrypto {
public:
    enum EncryptionType { kRC2 = 1, kRC4 = 2 };
    // Cipher of the text (hexadecimal when asked); empty on any failure.
    std::string Encrypt(const std::string& sTextToEncrypt, const std::string& sPrivateKey, bool bReturnTextInHex,
                        int enEncryptionType) const;
    // Plain text; empty on any failure (bad hex, wrong pass phrase).
    std::string Decrypt(const std::string& sTextToDecrypt, const std::string& sPrivateKey, bool bTextSuppliedInHex,
                        int enEncryptionType) const;
    std::string Crypt(const std::string& text, const std::string& passPhrase, bool encrypt, int algorithm) const;
    static std::string StringToHex(const std::string& text);
    // Empty for an odd length or anything but "0"-"9" and "A"-"F".
    static std::string HexToString(const std::string& hex);
};

}  // namespace pxcp
