#pragma once
// The scrambling key of the scrambled firmware file: one fixed byte for each of
// the 64 positions of a block. Whatever unscrambles a file needs the same bytes.
#include <array>
#include <cstddef>
#include <cstdint>

namespace veltra {

// The record size of the scrambled file: its header and every data block.
inline constexpr std::size_t kScrambleBlockSize = 64;

using ScrambleBlock = std::array<std::uint8_t, kScrambleBlockSize>;

// Key byte 0 also marks the file header and masks the option values there.
const ScrambleBlock& ScrambleKey();

}  // namespace veltra
