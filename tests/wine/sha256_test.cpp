// SHA-256 through BCrypt, against the same published digests as on Linux.
#include <gtest/gtest.h>

#include "firmware/Sha256.h"
#include "support/Sha256Vectors.h"

namespace veltra::wine {
namespace {

TEST(Sha256, GivesThePublishedDigestsInLowercaseHex) {
    testing::ExpectPublishedDigests(Sha256Hex);
}

}  // namespace
}  // namespace veltra::wine
