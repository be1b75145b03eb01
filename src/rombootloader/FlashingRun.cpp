#include "rombootloader/FlashingRun.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "firmware/FirmwareImage.h"
#include "rombootloader/BootloaderExchange.h"
#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/ChipQueries.h"
#include "rombootloader/ImageTransfer.h"
#include "rombootloader/ReadBack.h"

namespace veltra::rom {

namespace {

constexpr char kRunFailed[] = "-----Failed------";
constexpr char kRunSucceeded[] = "-----Succefull------";
// Last words of a run that left the chip as it found it.
constexpr char kNotFlashed[] = "Not flashed";
constexpr char kNoBootloader[] = "No bootloader";
constexpr char kEepromRestored[] = "EEPROM restored";
constexpr std::uint8_t kGlobalErase[] = {0xFF, 0x00};
constexpr std::uint8_t kEepromErase[] = {0xEE, 0x11};

// The EEPROM records 0..7 end here in the image.
constexpr std::size_t kEepromEnd = kHeaderSize + kRecordSize * (kEepromLastRecord + 1);

// The kept area is exactly what the image's EEPROM records would write, so
// those records' own writing carries it.
static_assert(kKeptEeprom.address == kImageBase);
static_assert(kKeptEeprom.length == kEepromEnd - kHeaderSize);

// The most one Read Memory hands back.
constexpr std::size_t kReadMost = 256;

ByteString Bytes(std::span<const std::uint8_t> bytes) {
    return ByteString(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Warn(Operator& op, const std::string& text) { op.ShowMessage({text, MessageIcon::Warning, {}}); }

// Get, tried three times. A bootloader that got more 0x7F than it answered
// (probes an adapter held back while the board came up) may hold the first
// byte of a command: Get's first byte then completes that pair and is refused,
// and its second waits for a partner. Once the extra bytes have stopped, a
// second Get finds the bootloader waiting for a command, or holding a byte; a
// lone 0xFF then completes any pair (refused, since no code is its own
// complement), and the third Get is answered.
bool AnswersGetAligned(SerialPort& port, ByteString& wrs) {
    if (AnswersGet(port, wrs) || port.Lost()) return !port.Lost();
    if (AnswersGet(port, wrs) || port.Lost()) return !port.Lost();
    SendFrame(port, wrs, ByteString(1, '\xFF'), Step::Command);
    return !port.Lost() && AnswersGet(port, wrs);
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

// The run log's first entry, shown before anything else is done.
std::string StartRunLog(Operator& op) {
    std::string runLog;
    op.SetTrafficLog(runLog);
    runLog = "Running !  ";
    op.SetTrafficLog(runLog);
    return runLog;
}

// Wakes the bootloader; nothing when it answered, else how the run ends.
std::optional<FlashingOutcome> Synchronise(SerialPort& port, Operator& op, ByteString& wrs,
                                           std::chrono::milliseconds patience, std::string& runLog) {
    const WakeResult woken = WakeLoader(port, op, wrs, patience);
    if (woken == WakeResult::PortLost || woken == WakeResult::WriteFailed) {
        return EndRun(op, runLog, woken == WakeResult::PortLost ? kRunFailed : "No connection",
                      FlashingOutcome::PortProblem);
    }
    if (woken != WakeResult::Awake) return EndRun(op, runLog, "No connection", FlashingOutcome::NoSync);
    return std::nullopt;
}

// `area` read in as few Read Memory as it takes; nothing when one of them was
// refused, unanswered or short.
std::optional<ByteString> ReadArea(SerialPort& port, ByteString& wrs, MemoryArea area) {
    ByteString bytes;
    for (std::size_t done = 0; done < area.length; done += kReadMost) {
        const std::size_t length = std::min(kReadMost, area.length - done);
        std::optional<ByteString> piece =
            ReadMemory(port, wrs, area.address + static_cast<std::uint32_t>(done), length);
        if (!piece) return std::nullopt;
        bytes += *piece;
    }
    return bytes;
}

// The kept EEPROM as an image of its own: a blank header, then the area as
// records 0 to 7.
FirmwareImage KeptImage(const ByteString& area) {
    FirmwareImage kept;
    kept.bytes.assign(kHeaderSize, 0xFF);
    for (const char byte : area) kept.bytes.push_back(static_cast<std::uint8_t>(byte));
    return kept;
}

// Reads the kept area back whole and compares it with the backup; the first
// difference is named in a box, as the records' read-back names it. (That
// read-back also checks the option bytes against an image's header, which a
// backup has none of.)
bool CheckKeptEeprom(SerialPort& port, Operator& op, ByteString& wrs, const ByteString& area) {
    const std::optional<ByteString> held = ReadArea(port, wrs, kKeptEeprom);
    if (port.Lost()) return false;
    char text[160];
    if (!held) {
        std::snprintf(text, sizeof text, "Read-back failed: the microcontroller did not hand back the EEPROM at 0x%05X",
                      static_cast<unsigned>(kKeptEeprom.address));
        Warn(op, text);
        return false;
    }
    const auto differs = std::mismatch(held->begin(), held->end(), area.begin()).first;
    if (differs == held->end()) return true;
    const auto offset = static_cast<std::size_t>(differs - held->begin());
    std::snprintf(text, sizeof text,
                  "Read-back differs at 0x%05X: the microcontroller holds 0x%02X, the backup has 0x%02X",
                  static_cast<unsigned>(kKeptEeprom.address + offset), static_cast<unsigned>(ByteAt(*held, offset)),
                  static_cast<unsigned>(ByteAt(area, offset)));
    Warn(op, text);
    return false;
}

// Writes the kept area into the data EEPROM with the records' own writing
// and reads it back; a refused record or the first difference has its box.
bool WriteBackEeprom(SerialPort& port, Operator& op, ByteString& wrs, const ByteString& area, std::string& runLog) {
    return TransferImage(port, op, wrs, KeptImage(area), true, runLog) && !port.Lost() &&
           CheckKeptEeprom(port, op, wrs, area);
}

// Everything after the image is read, for a file chosen and for an image of
// a line of devices alike.
FlashingOutcome Flash(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                      const FlashingOptions& options, bool eeprom, std::string& runLog) {
    if (!ImageFitForFlashing(image, eeprom)) {
        op.ShowMessage({" File corrupt ", MessageIcon::None, {}});
        return FlashingOutcome::FileProblem;
    }
    if (options.keepEeprom && eeprom) {
        // The image's EEPROM records would be written over what is kept.
        op.ShowMessage({"The EEPROM cannot be kept and written from the image in one run", MessageIcon::None, {}});
        return FlashingOutcome::FileProblem;
    }

    if (!options.synchronised) {
        if (const auto ended = Synchronise(port, op, wrs, options.wakePatience, runLog)) return *ended;
    }

    // Nothing is erased before the chip is known for what it is.
    if (options.requireGet && !AnswersGetAligned(port, wrs)) {
        if (port.Lost()) return EndRun(op, runLog, kRunFailed, FlashingOutcome::PortProblem);
        return EndRun(op, runLog, kNoBootloader, FlashingOutcome::NotBootloader);
    }
    ChipFacts facts;
    if (options.chipId) {
        // A refused Read Memory leaves the bootloader waiting for its next
        // command: the run goes on without the ID.
        std::optional<ByteString> id = ReadMemory(port, wrs, options.chipId->address, options.chipId->length);
        if (port.Lost()) return EndRun(op, runLog, kRunFailed, FlashingOutcome::PortProblem);
        if (id) {
            facts.chipId = std::move(*id);
        } else {
            facts.chipIdUnreadable = true;
        }
    }
    if (options.beforeErase && !options.beforeErase(facts)) {
        return EndRun(op, runLog, kNotFlashed, FlashingOutcome::Skipped);
    }

    // Set when the run ends short of the erase, the chip as it was found.
    std::optional<FlashingOutcome> untouched;
    ByteString kept;
    if (options.keepEeprom) {
        std::optional<ByteString> area = ReadArea(port, wrs, kKeptEeprom);
        if (port.Lost()) return EndRun(op, runLog, kRunFailed, FlashingOutcome::PortProblem);
        if (!area) {
            // Erased, its calibration would be lost for good.
            Warn(op, "The EEPROM could not be read: nothing was erased");
            untouched = FlashingOutcome::Refused;
        } else if (!options.keepEeprom(*area)) {
            // The keeper has said why.
            untouched = FlashingOutcome::FileProblem;
        } else {
            kept = std::move(*area);
        }
    }

    bool written = false;
    bool erased = false;
    bool keptBack = false;
    if (!untouched) {
        erased = Erase(port, wrs, kGlobalErase);
        written = erased && (!eeprom || Erase(port, wrs, kEepromErase));
        if (port.Lost()) {
            // The port has shown its box; nothing more can reach the device.
        } else if (!written) {
            // A device that keeps its old memory must not get option bytes and
            // records written over it.
            Warn(op, "Erase error: the microcontroller did not acknowledge the erase; nothing was written");
        } else {
            for (const OptionByteSlot& option : kOptionByteSlots) {
                if (port.Lost()) break;
                // These answers are not examined.
                SendFrame(port, wrs, Command(kWriteMemory), Step::Command);
                SendFrame(port, wrs, AddressFrame(option.address), Step::Address);
                SendFrame(port, wrs, DataFrame(std::span<const std::uint8_t>(&image.bytes[option.headerOffset], 1)),
                          Step::Write);
            }
            if (!port.Lost()) {
                runLog += "Ok!     ";
                op.SetTrafficLog(runLog);
                const auto told = [&](RunPhase phase) -> RecordProgress {
                    if (!options.progress) return {};
                    return [&options, phase](std::size_t done, std::size_t total) {
                        options.progress(phase, done, total);
                    };
                };
                written = TransferImage(port, op, wrs, image, eeprom, runLog, told(RunPhase::Writing));
                // Also after a refused record: the erase has cleared the
                // EEPROM either way.
                if (options.keepEeprom && !port.Lost()) {
                    keptBack = WriteBackEeprom(port, op, wrs, kept, runLog);
                    written = written && keptBack;
                }
                if (written && options.readBack && !port.Lost()) {
                    written = ReadBackRecords(port, op, wrs, image, RecordsToWrite(image, eeprom),
                                              told(RunPhase::Checking));
                }
            }
        }
    }

    if (options.keepEeprom && erased && !keptBack) {
        // The calibration is on the disk only now.
        Warn(op, "The EEPROM was not written back: its backup file remains and can be written back with "
                 "--restore-eeprom FILE");
    }
    // Also a chip left untouched gets Go: it holds its old firmware and
    // EEPROM, and Go hands it back to them, as after a refused erase.
    if (!port.Lost()) SendFrame(port, wrs, Command(kGo), Step::Go);
    if (port.Lost()) return EndRun(op, runLog, kRunFailed, FlashingOutcome::PortProblem);
    if (untouched) return EndRun(op, runLog, kNotFlashed, *untouched);
    if (!written) return EndRun(op, runLog, kRunFailed, FlashingOutcome::Refused);
    return EndRun(op, runLog, kRunSucceeded, FlashingOutcome::Written);
}

}  // namespace

// The run erases the memory first, so a short or wrong image would leave the
// device empty or with made-up options.
bool ImageFitForFlashing(const FirmwareImage& image, bool eeprom) {
    const std::size_t size = image.Size();
    if (size < kHeaderSize) return false;
    if (eeprom && size < kEepromEnd) return false;
    const auto programOffset = static_cast<std::size_t>(kProgramOffset);
    if (size >= programOffset) return size > programOffset && image.bytes[programOffset] == kProgramMarker;
    return eeprom;  // without the program area and the EEPROM, nothing would be written
}

FlashingOutcome RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                            const FlashingOptions& options) {
    std::string runLog = StartRunLog(op);
    // Read once: the image check, the erase and the transfer must agree on it.
    const bool eeprom = op.EepromChecked();
    if (!choice.Chosen()) {
        op.ShowMessage({"Please choose File", MessageIcon::None, {}});
        return FlashingOutcome::FileProblem;
    }
    const std::optional<FirmwareImage> image = LoadFirmwareImage(op, choice.path);
    if (!image) return FlashingOutcome::FileProblem;
    if (options.imageRead) options.imageRead(*image);
    return Flash(port, op, wrs, *image, options, eeprom, runLog);
}

FlashingOutcome RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                            const FlashingOptions& options) {
    std::string runLog = StartRunLog(op);
    return Flash(port, op, wrs, image, options, op.EepromChecked(), runLog);
}

FlashingOutcome RestoreEeprom(SerialPort& port, Operator& op, ByteString& wrs, const ByteString& area,
                              std::chrono::milliseconds wakePatience) {
    std::string runLog = StartRunLog(op);
    if (area.size() != kKeptEeprom.length) {
        std::string text = "An EEPROM backup holds ";
        text += std::to_string(kKeptEeprom.length);
        text += " bytes, this one ";
        text += std::to_string(area.size());
        op.ShowMessage({text, MessageIcon::None, {}});
        return FlashingOutcome::FileProblem;
    }
    if (const auto ended = Synchronise(port, op, wrs, wakePatience, runLog)) return *ended;
    // No Go: a restore mends what a failed run left, whose program area may
    // be half written; the chip stays in its bootloader for the next run.
    const bool written = WriteBackEeprom(port, op, wrs, area, runLog);
    if (port.Lost()) return EndRun(op, runLog, kRunFailed, FlashingOutcome::PortProblem);
    if (!written) return EndRun(op, runLog, kRunFailed, FlashingOutcome::Refused);
    return EndRun(op, runLog, kEepromRestored, FlashingOutcome::Written);
}

}  // namespace veltra::rom
