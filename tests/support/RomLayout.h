#pragma once
// Where the ROM bootloader run takes things from in an image file and puts
// them in the microcontroller, as the tests build their images: a 64-byte
// header, then 128-byte records, the program area from record 160 (at
// 0x9000, beginning with its marker).
#include <cstddef>
#include <cstdint>

namespace veltra::testing {

inline constexpr std::size_t kHeader = 64;
inline constexpr std::size_t kRecord = 128;
inline constexpr std::size_t kProgramOffset = kHeader + kRecord * 160;
inline constexpr std::uint32_t kProgramBase = 0x9000;

}  // namespace veltra::testing
