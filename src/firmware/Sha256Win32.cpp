// SHA-256 through the system's BCrypt: the algorithm provider, a hash object,
// the block fed in pieces that fit a ULONG, and the digest.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "firmware/Sha256.h"

namespace veltra::platform {
namespace {

void Check(NTSTATUS status, const char* call) {
    if (status < 0) throw std::runtime_error(std::string("SHA-256 failed in BCrypt (") + call + ")");
}

// The provider and the hash, closed in the reverse order whatever happens.
struct Sha256Handles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Sha256Handles() {
        if (hash != nullptr) ::BCryptDestroyHash(hash);
        if (algorithm != nullptr) ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

}  // namespace

void Sha256Digest(std::span<const std::uint8_t> bytes, std::span<std::uint8_t, kSha256Bytes> digest) {
    Sha256Handles handles;
    Check(::BCryptOpenAlgorithmProvider(&handles.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
          "BCryptOpenAlgorithmProvider");
    // Without a buffer of ours, BCrypt keeps the hash object's memory itself.
    Check(::BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), std::numeric_limits<ULONG>::max());
        // BCryptHashData only reads the input, though its parameter is not const.
        Check(::BCryptHashData(handles.hash, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(piece), 0),
              "BCryptHashData");
        bytes = bytes.subspan(piece);
    }
    Check(::BCryptFinishHash(handles.hash, digest.data(), static_cast<ULONG>(digest.size()), 0), "BCryptFinishHash");
}

}  // namespace veltra::platform
