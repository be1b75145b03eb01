// SHA-256 through BCrypt, against the same published digests as on Linux.
#include <gtest/gtest.h>

#include "firmware/Sha256.h"
#include "support/Sha256Vectors.h"

namespace veltra::wine {
namespace {

TEST(Sha256, GivesThePublishedDigestsInLowercaseHex) {
    for (const testing::Sha256Vector& v : testing::Sha256Vectors()) {
        SCOPED_TRACE(v.what);
        EXPECT_EQ(Sha256Hex(testing::BytesOf(v.input)), v.hex);
    }
}

}  // namespace
}  // namespace veltra::wine
