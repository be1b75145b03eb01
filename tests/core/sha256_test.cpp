// SHA-256 through the system's library, against published digests.
#include <gtest/gtest.h>

#include "firmware/Sha256.h"
#include "support/Sha256Vectors.h"

namespace veltra {
namespace {

TEST(Sha256, GivesThePublishedDigestsInLowercaseHex) {
    testing::ExpectPublishedDigests(Sha256Hex);
}

}  // namespace
}  // namespace veltra
