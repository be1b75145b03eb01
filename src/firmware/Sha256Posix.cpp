// SHA-256 through OpenSSL's libcrypto: one EVP_Digest call over the whole block.
#include <openssl/evp.h>

#include <stdexcept>

#include "firmware/Sha256.h"

namespace veltra::platform {

void Sha256Digest(std::span<const std::uint8_t> bytes, std::span<std::uint8_t, kSha256Bytes> digest) {
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != kSha256Bytes) {
        throw std::runtime_error("SHA-256 failed in libcrypto");
    }
}

}  // namespace veltra::platform
