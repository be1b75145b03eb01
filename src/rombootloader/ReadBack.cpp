#include "rombootloader/ReadBack.h"

#include <array>
#include <cstdio>

#include "rombootloader/BootloaderExchange.h"

namespace veltra::rom {
namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

void Warn(Operator& op, const std::string& text) { op.ShowMessage({text, MessageIcon::Warning, {}}); }

void WarnDiffers(Operator& op, std::uint32_t address, std::uint8_t held, std::uint8_t written) {
    Warn(op, "Read-back differs at " + Hex(address, 5) + ": the microcontroller holds " + Hex(held, 2) +
                 ", the image has " + Hex(written, 2));
}

// One Read Memory from the first option byte to the last: a quarter of the
// frames of four reads, with the bytes between passed over. They come first,
// as they were written first, and a wrong option is found in a moment rather
// than after every record.
bool ReadBackOptionBytes(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image) {
    const std::uint32_t first = kOptionByteSlots.front().address;
    const std::size_t length = kOptionByteSlots.back().address - first + 1;
    const std::optional<ByteString> held = ReadMemory(port, wrs, first, length);
    if (port.Lost()) return false;
    if (!held) {
        Warn(op, "Read-back failed: the microcontroller did not hand back the option bytes at " + Hex(first, 5));
        return false;
    }
    for (const OptionByteSlot& slot : kOptionByteSlots) {
        const std::uint8_t got = ByteAt(*held, slot.address - first);
        const std::uint8_t written = image.bytes[slot.headerOffset];
        if (got != written) {
            WarnDiffers(op, slot.address, got, written);
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadBackRecords(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                     const std::vector<RecordWrite>& records, const RecordProgress& progress) {
    if (!ReadBackOptionBytes(port, op, wrs, image)) return false;
    std::array<std::uint8_t, kRecordSize> written{};
    std::size_t done = 0;
    for (const RecordWrite& record : records) {
        image.CopyRecord(record.offset, written);
        const std::optional<ByteString> held = ReadMemory(port, wrs, record.address, kRecordSize);
        if (port.Lost()) return false;
        if (!held) {
            Warn(op, "Read-back failed: the microcontroller did not hand back the record at " +
                         Hex(record.address, 5));
            return false;
        }
        for (std::size_t i = 0; i < kRecordSize; ++i) {
            const std::uint8_t got = ByteAt(*held, i);
            if (got != written[i]) {
                WarnDiffers(op, record.address + static_cast<std::uint32_t>(i), got, written[i]);
                return false;
            }
        }
        if (progress) progress(++done, records.size());
    }
    return true;
}

}  // namespace veltra::rom
