#pragma once
// Writing the image records into the microcontroller's memory, 128 bytes at a
// time, each at the address the record holds in the image: records 0..7 (the
// EEPROM area from 0x4000) only when EEPROM is checked, and the program area
// from record 160 (address 0x9000) on, which must begin with the marker 0x23.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// An option byte: the header byte the run writes and where it goes.
struct OptionByteSlot {
    std::size_t headerOffset;
    std::uint32_t address;
};
// Alt Func, WD+LSI, Clock Option, HSE Option; the bytes between them are not written.
inline constexpr std::array<OptionByteSlot, 4> kOptionByteSlots{
    {{19, 0x4803}, {20, 0x4805}, {21, 0x4807}, {22, 0x4809}}};

// File offset of the first byte of the program area.
inline constexpr std::int64_t kProgramOffset =
    static_cast<std::int64_t>(kHeaderSize + kRecordSize * kProgramFirstRecord);

// One record the run writes: its number in the image, where it goes in the
// memory and where it begins in the file.
struct RecordWrite {
    std::int64_t number;
    std::uint32_t address;
    std::size_t offset;
};

// The records of `image` that follow its header and are written, in order: up
// to the one that holds the end of the image, the EEPROM ones only when
// `eeprom` is set. A record the image fills only in part is padded with 0xFF.
std::vector<RecordWrite> RecordsToWrite(const FirmwareImage& image, bool eeprom);

// Told after each record written: how many of how many.
using RecordProgress = std::function<void(std::size_t done, std::size_t total)>;

// Sends the records of RecordsToWrite. Appends a "Block n    " line to the run
// log for each record written. False when the transfer ended on " File
// corrupt ", a refused data frame or a lost port.
bool TransferImage(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image, bool eeprom,
                   std::string& runLog, const RecordProgress& progress = {});

}  // namespace veltra::rom
