#pragma once
// SHA-256 of a block of bytes, from the system's own cryptography: OpenSSL's
// libcrypto on POSIX, BCrypt on Windows. A log that names the image sent
// must be checkable with any other SHA-256 tool, so no hash is made here.
#include <cstdint>
#include <span>
#include <string>

namespace veltra {

// The 64 lowercase hex digits of the SHA-256 of `bytes`. Throws
// std::runtime_error when the system's library fails.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

namespace platform {

inline constexpr std::size_t kSha256Bytes = 32;

// Each platform's part: the 32 bytes of the digest.
void Sha256Digest(std::span<const std::uint8_t> bytes, std::span<std::uint8_t, kSha256Bytes> digest);

}  // namespace platform

}  // namespace veltra
