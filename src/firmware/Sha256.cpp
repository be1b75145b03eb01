#include "firmware/Sha256.h"

#include <array>

namespace veltra {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, platform::kSha256Bytes> digest{};
    platform::Sha256Digest(bytes, digest);
    constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

}  // namespace veltra
