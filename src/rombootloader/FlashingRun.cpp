#include "rombootloader/FlashingRun.h"

#include <array>
#include <optional>
#include <string>

#include "firmware/FirmwareImage.h"
#include "rombootloader/BootloaderExchange.h"
#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/ImageTransfer.h"
#include "rombootloader/ReadBack.h"

namespace veltra::rom {

namespace {

constexpr char kRunFailed[] = "-----Failed------";
constexpr std::uint8_t kGlobalErase[] = {0xFF, 0x00};
constexpr std::uint8_t kEepromErase[] = {0xEE, 0x11};

// Option bytes: header offset -> low byte of the address 0x48xx.
struct OptionByte { std::size_t headerOffset; std::uint8_t addressLow; };
constexpr std::array<OptionByte, 4> kOptionBytes{{{19, 0x03}, {20, 0x05}, {21, 0x07}, {22, 0x09}}};

// The EEPROM records 0..7 end here in the image.
constexpr std::size_t kEepromEnd = kHeaderSize + kRecordSize * (kEepromLastRecord + 1);

ByteString Bytes(std::span<const std::uint8_t> bytes) {
    return ByteString(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Whether the image holds every byte the run will write: the whole header (its
// option bytes), the whole EEPROM area when it is to be written, and the
// marker where the program area begins. The run erases the memory first, so a
// short or wrong image would leave the device empty or with made-up options.
bool ImageFitForFlashing(const FirmwareImage& image, bool eeprom) {
    const std::size_t size = image.Size();
    if (size < kHeaderSize) return false;
    if (eeprom && size < kEepromEnd) return false;
    const auto programOffset = static_cast<std::size_t>(kProgramOffset);
    if (size >= programOffset) return size > programOffset && image.bytes[programOffset] == kProgramMarker;
    return eeprom;  // without the program area and the EEPROM, nothing would be written
}

// Erase Memory and its parameter frame; true when the bootloader acknowledged both.
bool Erase(SerialPort& port, ByteString& wrs, std::span<const std::uint8_t> parameter) {
    if (SendFrame(port, wrs, Command(kEraseMemory), Step::Command) != kAck) return false;
    return SendFrame(port, wrs, Bytes(parameter), Step::Erase) == kAck;
}

FlashingOutcome EndRun(Operator& op, std::string& runLog, const char* last, FlashingOutcome outcome) {
    runLog += last;
    op.SetTrafficLog(runLog);
    return outcome;
}

}  // namespace

FlashingOutcome RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                            const FlashingOptions& options) {
    std::string runLog;
    op.SetTrafficLog(runLog);
    runLog = "Running !  ";
    op.SetTrafficLog(runLog);

    // Read once: the image check, the erase and the transfer must agree on it.
    const bool eeprom = op.EepromChecked();
    if (!choice.Chosen()) {
        op.ShowMessage({"Please choose File", MessageIcon::None, {}});
        return FlashingOutcome::FileProblem;
    }
    const std::optional<FirmwareImage> image = LoadFirmwareImage(op, choice.path);
    if (!image) return FlashingOutcome::FileProblem;
    if (options.imageRead) options.imageRead(*image);
    if (!ImageFitForFlashing(*image, eeprom)) {
        op.ShowMessage({" File corrupt ", MessageIcon::None, {}});
        return FlashingOutcome::FileProblem;
    }

    const WakeResult woken = WakeLoader(port, op, wrs, options.wakePatience);
    if (woken == WakeResult::PortLost || woken == WakeResult::WriteFailed) {
        return EndRun(op, runLog, woken == WakeResult::PortLost ? kRunFailed : "No connection",
                      FlashingOutcome::PortProblem);
    }
    if (woken != WakeResult::Awake) return EndRun(op, runLog, "No connection", FlashingOutcome::NoSync);

    bool written = Erase(port, wrs, kGlobalErase) && (!eeprom || Erase(port, wrs, kEepromErase));
    if (port.Lost()) {
        // The port has shown its box; nothing more can reach the device.
    } else if (!written) {
        // A device that keeps its old memory must not get option bytes and
        // records written over it.
        op.ShowMessage({"Erase error: the microcontroller did not acknowledge the erase; nothing was written",
                        MessageIcon::Warning, {}});
    } else {
        for (const OptionByte& option : kOptionBytes) {
            if (port.Lost()) break;
            // These answers are not examined.
            SendFrame(port, wrs, Command(kWriteMemory), Step::Command);
            SendFrame(port, wrs, AddressFrame(0x4800u | option.addressLow), Step::Address);
            SendFrame(port, wrs, DataFrame(std::span<const std::uint8_t>(&image->bytes[option.headerOffset], 1)),
                      Step::Write);
        }
        if (!port.Lost()) {
            runLog += "Ok!     ";
            op.SetTrafficLog(runLog);
            const auto told = [&](RunPhase phase) -> RecordProgress {
                if (!options.progress) return {};
                return [&options, phase](std::size_t done, std::size_t total) { options.progress(phase, done, total); };
            };
            written = TransferImage(port, op, wrs, *image, eeprom, runLog, told(RunPhase::Writing));
            if (written && options.readBack && !port.Lost()) {
                written = ReadBackRecords(port, op, wrs, *image, RecordsToWrite(*image, eeprom),
                                          told(RunPhase::Checking));
            }
        }
    }

    if (!port.Lost()) SendFrame(port, wrs, Command(kGo), Step::Go);
    if (port.Lost()) return EndRun(op, runLog, kRunFailed, FlashingOutcome::PortProblem);
    if (!written) return EndRun(op, runLog, kRunFailed, FlashingOutcome::Refused);
    return EndRun(op, runLog, "-----Succefull------", FlashingOutcome::Written);
}

}  // namespace veltra::rom
