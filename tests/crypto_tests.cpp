// The credential store's ciphers and digest, against the published vectors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "crypto/CCrypto.h"
#include "crypto/CMD5.h"
#include "crypto/PXCryptoUtils.h"
#include "host/platform/Registry.h"

using namespace pxcp;

namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::string raw = CCrypto::HexToString(hex);
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

std::string Hex(const uint8_t* b, size_t n) { return CCrypto::StringToHex(std::string(b, b + n)); }

TEST(MD5Test, Rfc1321Suite) {
    CMD5 md5;
    EXPECT_EQ(md5.MD5(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(md5.MD5("a"), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(md5.MD5("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(md5.MD5("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(md5.MD5("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(md5.MD5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(md5.MD5("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(RC2Test, Rfc2268Vectors) {
    struct V {
        const char* key;
        int bits;
        const char *plain, *cipher;
    };
    for (V v : {V{"0000000000000000", 63, "0000000000000000", "EBB773F993278EFF"},
                V{"FFFFFFFFFFFFFFFF", 64, "FFFFFFFFFFFFFFFF", "278B27E42E2F0D49"},
                V{"3000000000000000", 64, "1000000000000001", "30649EDF9BE7D2C2"},
                V{"88", 64, "0000000000000000", "61A8A244ADACCCF0"},
                V{"88BCA90E90875A", 64, "0000000000000000", "6CCF4308974C267F"},
                V{"88BCA90E90875A7F0F79C384627BAFB2", 64, "0000000000000000", "1A807D272BBE5DB1"},
                V{"88BCA90E90875A7F0F79C384627BAFB2", 128, "0000000000000000", "2269552AB0F85CA6"},
                V{"88BCA90E90875A7F0F79C384627BAFB216F80A6F85920584C42FCEB0BE255DAF1E", 129, "0000000000000000",
                  "5B78D3A43DFFF1F1"}}) {
        RC2 rc2(Bytes(v.key), v.bits);
        auto block = Bytes(v.plain);
        rc2.EncryptBlock(block.data());
        EXPECT_EQ(Hex(block.data(), 8), v.cipher) << v.key << " / " << v.bits;
        rc2.DecryptBlock(block.data());
        EXPECT_EQ(Hex(block.data(), 8), v.plain);
    }
}

TEST(RC4Test, KnownStream) {
    // The classic "Key" / "Plaintext" pair.
    auto out = RC4({'K', 'e', 'y'}, {'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'});
    EXPECT_EQ(Hex(out.data(), out.size()), "BBF316E8D940AF0AD3");
}

TEST(CCryptoTest, PasswordsRoundTripInPaddedBlocks) {
    CCrypto c;
    std::string phrase = CMD5().MD5("A1B2C");
    std::string cipher = c.Encrypt("abcdefgh", phrase, true, 1);
    EXPECT_EQ(cipher.size(), 32u);  // 8 bytes of text: two blocks
    // What an independent RC2-40-CBC gives with the first five bytes of the
    // phrase's MD5 as key and a zero vector.
    EXPECT_EQ(cipher, "36CB1C97EC3A4D69CC4E2F2B00BF6B38");
    EXPECT_EQ(c.Encrypt("abc", phrase, true, 1).size(), 16u);
    EXPECT_EQ(c.Decrypt(cipher, phrase, true, 1), "abcdefgh");
    EXPECT_EQ(c.Decrypt(c.Encrypt("secret", phrase, true, 2), phrase, true, 2), "secret");
    // Only the first 40 bits of the hash make the key, and there is no salt:
    // the same phrase always gives the same cipher.
    EXPECT_EQ(c.Encrypt("abcdefgh", phrase, true, 1), cipher);

    EXPECT_EQ(c.Decrypt(cipher, CMD5().MD5("other"), true, 1), "");  // padding does not check out
    EXPECT_EQ(c.Encrypt("", phrase, true, 1), "");
    EXPECT_EQ(c.Encrypt("x", "", true, 1), "");
    EXPECT_EQ(c.Encrypt("x", phrase, true, 3), "");
}

TEST(CCryptoTest, HexIsUpperCaseOnly) {
    EXPECT_EQ(CCrypto::StringToHex(std::string("\x01\xab", 2)), "01AB");
    EXPECT_EQ(CCrypto::HexToString("01AB"), std::string("\x01\xab", 2));
    EXPECT_EQ(CCrypto::HexToString("01ab"), "");
    EXPECT_EQ(CCrypto::HexToString("01A"), "");
    EXPECT_EQ(CCrypto::HexToString("0G"), "");
}

TEST(RegistryTest, StringValuesPersistInTheUsersFile) {
    pxtest::ScratchDir dir;
    std::string file = dir / "registry.ini";
    setenv("PLEXA_REGISTRY", file.c_str(), 1);
    using namespace host::platform;
    const std::string key = "Software\\Velmar\\Plexa\\Security";
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "v"), "");
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, key, "v", "ABC=1\nx"));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, "Software\\Other", "w", "keep"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "software\\velmar\\plexa\\SECURITY", "v"), "ABC=1\nx");
    RegSetValue(HKEY_CURRENT_USER, key, "n", {REG_DWORD, "5"});
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "n"), "");  // not a string
    RegSetValue(HKEY_CURRENT_USER, key, "z", {REG_SZ, std::string("ab\0cd", 5)});
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "z"), "ab");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Other", "w"), "keep");
    // Names that look like a section or a comment in the file.
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, "Software\\Other", "[a", "b]"));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, "Software\\Other", ";c", "d"));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, "Software\\Other", "x", "y"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Other", "[a"), "b]");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Other", ";c"), "d");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Other", "x"), "y");
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
    std::ofstream(file, std::ios::trunc) << "[HKEY_CURRENT_USER\\SOFTWARE\\A]\r\nv=1:a\r\n[HKEY_CURRENT_USER\\SOFTWARE\\B]\r\nv=1:b\r\n";
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\A", "v"), "a");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\B", "v"), "b");
    unsetenv("PLEXA_REGISTRY");

    std::string seed = MakeKeySeed();
    EXPECT_EQ(seed.size(), 5u);
}

}  // namespace
