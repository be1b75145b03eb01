#pragma once
// Firmware images for the hidden Start: a 64-byte header with the four option
// values, then 128-byte records, the program area from record 160.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/RomLayout.h"
#include "window/support/PortWindow.h"

using veltra::testing::kHeader;
using veltra::testing::kProgramOffset;
using veltra::testing::kRecord;

// An image of `length` bytes: a header with the option values, records of a
// pattern, and the marker 0x23 at the start of record 160 when it is there.
inline std::string Image(std::size_t length, std::array<std::uint8_t, 4> options = {0x12, 0x34, 0x56, 0x78},
                         char marker = 0x23) {
    std::string image = Pattern(length, 3);
    for (std::size_t i = 0; i < 4 && 19 + i < length; ++i) image[19 + i] = static_cast<char>(options[i]);
    if (length > kProgramOffset) image[kProgramOffset] = marker;
    return image;
}
