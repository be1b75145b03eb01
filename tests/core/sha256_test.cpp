// SHA-256 through the system's library, against published digests.
#include <gtest/gtest.h>

#include "firmware/Sha256.h"
#include "support/Sha256Vectors.h"

namespace veltra {
namespace {

TEST(Sha256, GivesThePublishedDigestsInLowercaseHex) {
    for (const testing::Sha256Vector& v : testing::Sha256Vectors()) {
        SCOPED_TRACE(v.what);
        EXPECT_EQ(Sha256Hex(testing::BytesOf(v.input)), v.hex);
    }
}

}  // namespace
}  // namespace veltra
