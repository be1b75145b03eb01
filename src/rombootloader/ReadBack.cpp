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

}  // namespace

bool ReadBackRecords(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                     const std::vector<RecordWrite>& records, const RecordProgress& progress) {
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
                Warn(op, "Read-back differs at " + Hex(record.address + static_cast<std::uint32_t>(i), 5) +
                             ": the microcontroller holds " + Hex(got, 2) + ", the image has " + Hex(written[i], 2));
                return false;
            }
        }
        if (progress) progress(++done, records.size());
    }
    return true;
}

}  // namespace veltra::rom
