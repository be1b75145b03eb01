#pragma once
// What veltra-load's runs through the ROM bootloader share, on one device or
// a line of them: the line's settings, the run's last words, its exit code,
// and the chip ID as text.
#include <string>

#include "rombootloader/FlashingRun.h"
#include "serial/ByteString.h"
#include "terminal/ExitCode.h"

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

}  // namespace veltra::terminal
