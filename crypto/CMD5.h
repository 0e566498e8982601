// MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pxcp {

class CMD5 {
public:
    // The digest of the message's bytes as 32 upper-case hexadecimal digits.
    std::string MD5(const std::string& sMessage) const;
    // The raw 16 bytes of the digest.
    static std::array<uint8_t, 16> Digest(const std::string& bytes);
};

}  // namespace pxcp
