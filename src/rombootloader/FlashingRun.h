#pragma once
// One run of programming the microcontroller through its ROM bootloader:
// check the image, synchronise, erase, write the four option bytes from the
// image header, write the image records, read them back when asked to, send
// Go. The run log goes to txtRec.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "firmware/FirmwareChoice.h"
#include "firmware/FirmwareImage.h"
#include "protocol/WakeUp.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

// How a run ended, for callers that act on it (a script's exit code).
enum class FlashingOutcome {
    Written,        // every record written (and read back the same, when asked)
    Refused,        // the erase or a record was refused or not answered, or the read-back differed; or the
                    // EEPROM area to keep could not be read (then nothing was erased)
    NoSync,         // nobody answered the synchronisation
    FileProblem,    // no file, an unreadable one, or an image unfit for the run; or the EEPROM's backup
                    // could not be kept (then nothing was erased)
    PortProblem,    // the port no longer takes bytes, or has gone
    NotBootloader,  // the synchronisation was answered, Get was not, as a ROM bootloader answers it: nothing erased
    Skipped,        // the caller chose not to go on once it knew the chip (beforeErase): nothing erased
};

// A stretch of the microcontroller's memory.
struct MemoryArea {
    std::uint32_t address = 0;
    std::size_t length = 0;  // 1 to 256: one Read Memory
};

// What the run learnt of the chip before it erased anything.
struct ChipFacts {
    ByteString chipId;              // the bytes of FlashingOptions::chipId; empty when not asked or unreadable
    bool chipIdUnreadable = false;  // Read Memory was refused or unanswered (read-out protection)
};

// The data EEPROM's area that the image's records 0 to 7 would write: 0x4000 to 0x43FF.
inline constexpr MemoryArea kKeptEeprom{0x4000, 1024};

enum class RunPhase { Writing, Checking };

struct FlashingOptions {
    std::chrono::milliseconds wakePatience = kWakePatience;
    // Read every written record back with Read Memory before Go, and fail the
    // run on the first difference.
    bool readBack = false;
    // Told after each record written or read back: how many of how many.
    std::function<void(RunPhase phase, std::size_t done, std::size_t total)> progress;
    // Told the file's image once it is read, before it is checked and before
    // anything reaches the line. Its "= {}" lets a caller that names the
    // fields above leave this one out without a missing-initializer warning.
    ImageRead imageRead = {};

    // The device has answered the synchronisation already (a line of devices
    // woke it): no 0x7F is sent again.
    bool synchronised = false;
    // The device must answer Get (0x00 0xFF) as a ROM bootloader does (0x79,
    // a count, a version, the command codes, 0x79) before anything is erased;
    // otherwise the run ends NotBootloader, its last words "No bootloader".
    bool requireGet = false;
    // Read with Read Memory after the synchronisation, before any erase.
    std::optional<MemoryArea> chipId = {};
    // Told what the run learnt of the chip before the erase; false ends the
    // run there, Skipped, with nothing erased; its last words "Not flashed".
    std::function<bool(const ChipFacts& facts)> beforeErase = {};
    // Set: the EEPROM area kKeptEeprom is read before the erase and handed
    // over to be kept safe (on a disk, synced) before anything is erased;
    // false from it ends the run, FileProblem, nothing erased (the keeper
    // tells why). An area that cannot be read ends the run Refused, nothing
    // erased. After the program records (also after a refused one) the area
    // is written back and read back; when that fails, a box says that the
    // backup remains. With the EEPROM box checked the run ends FileProblem
    // before anything is sent: the image's EEPROM records would overwrite it.
    // A run that ends before the erase ("Not flashed") still sends Go, since
    // the chip holds its old firmware and EEPROM; Skipped and NotBootloader
    // send nothing more.
    std::function<bool(const ByteString& area)> keepEeprom = {};
};

FlashingOutcome RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                            const FlashingOptions& options = {});
// Whether the image holds every byte a run writes: the whole header (its
// option bytes), the whole EEPROM area when it is to be written (the EEPROM
// box), and the marker where the program area begins.
bool ImageFitForFlashing(const FirmwareImage& image, bool eeprom);

// The same run on an image read already: a line of devices reads its file
// once and sends every device those very bytes. The image is checked as the
// file's is; imageRead is not told.
FlashingOutcome RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                            const FlashingOptions& options = {});

// --restore-eeprom: writes `area` (a backup of kKeptEeprom, kKeptEeprom.length
// bytes) back into the data EEPROM and reads it back; nothing is erased, no
// other memory is written, no Go is sent. Synchronises first. Written (last
// words "EEPROM restored"), Refused (a write refused or the read-back
// differed, named in a box), NoSync, PortProblem, or FileProblem for an area
// of another length (nothing sent).
FlashingOutcome RestoreEeprom(SerialPort& port, Operator& op, ByteString& wrs, const ByteString& area,
                              std::chrono::milliseconds wakePatience = kWakePatience);

}  // namespace veltra::rom
