#pragma once
// Frames of the microcontroller's ROM USART bootloader: a command is its code
// and the code's complement; address and data frames end with an XOR of their
// bytes. The bootloader answers 0x79 (acknowledge) or 0x1F (refusal).
#include <cstdint>
#include <span>

#include "serial/ByteString.h"

namespace veltra::rom {

inline constexpr std::uint8_t kGet = 0x00;
inline constexpr std::uint8_t kEraseMemory = 0x43;
inline constexpr std::uint8_t kWriteMemory = 0x31;
inline constexpr std::uint8_t kGo = 0x21;
inline constexpr std::uint8_t kReadMemory = 0x11;

ByteString Command(std::uint8_t code);                  // code, ~code
ByteString AddressFrame(std::uint32_t address);         // 4 bytes MSB first, XOR
ByteString DataFrame(std::span<const std::uint8_t> data);  // count-1, data, XOR of all

}  // namespace veltra::rom
