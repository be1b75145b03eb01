#pragma once
// The check byte of the device's own requests: CRC-8 with generator
// x^8 + x^5 + x^4 + 1, least significant bit first, start 0x00, no final XOR
// (the 1-Wire CRC; "123456789" gives 0xA1).
#include <cstdint>

#include "serial/ByteString.h"

namespace veltra {

// One step over one byte, without a table: the CRC of a single byte is the XOR
// of one constant per set bit. The new register is returned and left in cr.
std::uint8_t crc(const std::uint8_t& data, std::uint8_t& cr);

// The request followed by its check byte.
ByteString Control_summ(const ByteString& sstr);

}  // namespace veltra
