#pragma once
// What veltra-load's runs through the ROM bootloader share, on one device or
// a line of them: the line's settings, the run's last words, its exit code,
// and the chip ID as text.
#include <string>

#include "rombootloader/FlashingRun.h"
#include "serial/ByteString.h"
#include "terminal/CommandLine.h"
#include "terminal/ExitCode.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// "115200,n,8,1": the bootloader takes its speed from the first 0x7F.
std::string RomLineSettings(int baud);

// The last words of a run log, what the run ended with: its entries stand
// apart by two spaces or more ("Running !  Ok!     Block 1    -----Failed------").
// Empty while the log holds its first entry only.
std::string LastWords(const std::string& runLog);

ExitCode ExitCodeOf(rom::FlashingOutcome outcome);

// "0a1bff": two lowercase hex digits a byte, as the log's sha256.
std::string LowerHex(const ByteString& bytes);

// What a run of the command line tells its caller as it goes.
struct RomRunSeen {
    std::size_t recordsWritten = 0;
    rom::ChipFacts chip;  // kept by the caller's beforeErase, which must store it here
};

// The run's options from the command line, for a run on `port` (as given):
// the wake-up's patience, the read-back, the record counts on the progress
// line, the chip ID's area, and the EEPROM kept in a backup (--keep-eeprom),
// named by the chip ID in `seen` once read. Sets the operator's EEPROM box.
// The caller adds beforeErase.
rom::FlashingOptions RomRunOptions(const LoadCommand& command, TerminalOperator& op, const std::string& port,
                                   RomRunSeen& seen);

}  // namespace veltra::terminal
