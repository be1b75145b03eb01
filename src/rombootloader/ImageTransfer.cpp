#include "rombootloader/ImageTransfer.h"

#include <array>

#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderExchange.h"
#include "rombootloader/BootloaderFrames.h"

namespace veltra::rom {

namespace {

constexpr auto kRecordStep = static_cast<std::uint32_t>(kRecordSize);

void Tell(Operator& op, const std::string& text) { op.ShowMessage({text, MessageIcon::None, {}}); }

}  // namespace

std::vector<RecordWrite> RecordsToWrite(const FirmwareImage& image, bool eeprom) {
    std::vector<RecordWrite> records;
    std::size_t offset = kHeaderSize;
    for (std::int64_t number = 0;; ++number, offset += kRecordSize) {
        if (number <= kEepromLastRecord && eeprom) {
            records.push_back({number, kImageBase + static_cast<std::uint32_t>(number) * kRecordStep, offset});
        } else if (number >= kProgramFirstRecord) {
            const auto index = static_cast<std::uint32_t>(number - kProgramFirstRecord);
            records.push_back({number, kProgramBase + index * kRecordStep, offset});
        }
        // The record that holds the end of the image is the last, also when
        // the image ends exactly where it begins.
        if (offset + kRecordSize > image.Size()) return records;
    }
}

bool TransferImage(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image, bool eeprom,
                   std::string& runLog, const RecordProgress& progress) {
    const std::vector<RecordWrite> records = RecordsToWrite(image, eeprom);
    std::array<std::uint8_t, kRecordSize> record{};
    std::size_t done = 0;
    for (const RecordWrite& write : records) {
        image.CopyRecord(write.offset, record);
        if (write.number == kProgramFirstRecord && record[0] != kProgramMarker) {
            Tell(op, " File corrupt ");
            return false;
        }
        const std::string n = std::to_string(write.number - kProgramFirstRecord);
        // A lost port has shown its own box: no part error follows it.
        const bool commandAcked = SendFrame(port, wrs, Command(kWriteMemory), Step::Command) == kAck;
        if (port.Lost()) return false;
        if (!commandAcked) Tell(op, " 31 " + n + ",part error");
        const bool addressAcked = SendFrame(port, wrs, AddressFrame(write.address), Step::Address) == kAck;
        if (port.Lost()) return false;
        if (!addressAcked) Tell(op, "addr " + n + ",part error");
        const bool dataAcked = SendFrame(port, wrs, DataFrame(record), Step::Write) == kAck;
        if (port.Lost()) return false;
        if (!dataAcked) {
            Tell(op, " data " + n + ",part error");
            return false;
        }
        runLog += "Block " + std::to_string(write.number - (kProgramFirstRecord - 1)) + "    ";
        op.SetTrafficLog(runLog);
        if (progress) progress(++done, records.size());
    }
    return true;
}

}  // namespace veltra::rom
