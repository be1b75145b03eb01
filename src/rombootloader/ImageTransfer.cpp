#include "rombootloader/ImageTransfer.h"

#include <array>

#include "protocol/CommandExchange.h"
#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderFrames.h"

namespace veltra::rom {

namespace {

void Tell(Operator& op, const std::string& text) { op.ShowMessage({text, MessageIcon::None, {}}); }

}  // namespace

bool TransferImage(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image, bool eeprom,
                   std::string& runLog) {
    std::uint32_t address = kImageBase;
    std::array<std::uint8_t, kRecordSize> record{};
    std::size_t offset = kHeaderSize;
    for (std::int64_t number = 0;; ++number, offset += kRecordSize) {
        const std::size_t got = image.CopyRecord(offset, record);
        if (number == kProgramFirstRecord) {
            address = kProgramBase;
            if (record[0] != kProgramMarker) {
                Tell(op, " File corrupt ");
                return false;
            }
        }
        const bool write = number >= kProgramFirstRecord || (eeprom && number <= kEepromLastRecord);
        if (write) {
            const std::string n = std::to_string(number - kProgramFirstRecord);
            // A lost port has shown its own box: no part error follows it.
            wrs = Command(kWriteMemory);
            const bool commandAcked = wrstr(port, op, wrs).answer == kAck;
            if (port.Lost()) return false;
            if (!commandAcked) Tell(op, " 31 " + n + ",part error");
            wrs = AddressFrame(address);
            address += static_cast<std::uint32_t>(kRecordSize);
            const bool addressAcked = wrstr(port, op, wrs).answer == kAck;
            if (port.Lost()) return false;
            if (!addressAcked) Tell(op, "addr " + n + ",part error");
            wrs = DataFrame(record);
            const bool dataAcked = wrstr(port, op, wrs).answer == kAck;
            if (port.Lost()) return false;
            if (!dataAcked) {
                Tell(op, " data " + n + ",part error");
                return false;
            }
            runLog += "Block " + std::to_string(number - (kProgramFirstRecord - 1)) + "    ";
            op.SetTrafficLog(runLog);
        }
        if (got < kRecordSize) return true;
    }
}

}  // namespace veltra::rom
