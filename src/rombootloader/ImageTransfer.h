#pragma once
// Writing the image records into the microcontroller's memory, 128 bytes at a
// time, each at the address the record holds in the image: records 0..7 (the
// EEPROM area from 0x4000) only when EEPROM is checked, and the program area
// from record 160 (address 0x9000) on, which must begin with the marker 0x23.
#include <cstdint>
#include <string>

#include "firmware/FirmwareImage.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::size_t kRecordSize = 128;
inline constexpr std::int64_t kEepromLastRecord = 7;
inline constexpr std::int64_t kProgramFirstRecord = 160;
inline constexpr std::uint32_t kImageBase = 0x4000;
inline constexpr std::uint32_t kProgramBase = 0x9000;
inline constexpr std::uint8_t kProgramMarker = 0x23;  // '#'

// File offset of the first byte of the program area.
inline constexpr std::int64_t kProgramOffset =
    static_cast<std::int64_t>(kHeaderSize + kRecordSize * kProgramFirstRecord);

// Sends the records of `image` that follow its header; the EEPROM records
// only when `eeprom` is set. Appends a "Block n    " line to the run log for
// each record written. False when the transfer ended on " File corrupt " or a
// refused data frame.
bool TransferImage(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image, bool eeprom,
                   std::string& runLog);

}  // namespace veltra::rom
