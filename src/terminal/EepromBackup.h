#pragma once
// --keep-eeprom: the data EEPROM a ROM bootloader run reads before its erase
// (the device's calibration), kept in a file of its own before anything is
// erased; and that file read again for --restore-eeprom.
#include <chrono>
#include <string>

#include "serial/ByteString.h"
#include "terminal/CommandLine.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// "eeprom-<id>-<YYYYMMDDTHHMMSSZ>.bin", the time in UTC: <id> the chip's ID in
// hex, or without one the port as a file name may hold it ("/dev/ttyUSB0"
// gives "dev-ttyUSB0", "COM3:" gives "COM3").
std::string BackupName(const std::string& chipIdHex, const std::string& port,
                       std::chrono::system_clock::time_point time);

// Writes `area` into a new file `name` in `folder` (empty: the working
// folder): whole under a temporary name, on the disk, then given its name,
// and the folder's entry on the disk, all before it returns. Never over
// another file: an earlier backup may be the only good copy of a
// calibration, so a name taken gets "-2", "-3", ... before ".bin". True with
// the file's path in `path`; false with the reason in `problem`.
bool WriteBackup(const std::string& folder, const std::string& name, const ByteString& area, std::string& path,
                 std::string& problem);

// The backup at `path` for --restore-eeprom: exactly the bytes of the kept
// area. False with what to tell the operator in `problem`.
bool ReadBackup(const std::string& path, ByteString& area, std::string& problem);

// The keeper of --keep-eeprom for a run on `port` (as given): writes the
// backup into command.backupDir and says its path on standard output; says on
// standard error when the area holds 0x00 only, as an earlier run's erase
// left it (the backup is written all the same). False when the backup could
// not be written, with why on standard error: then nothing may be erased.
// `chipIdHex`: the chip's ID in hex when the run has read it, else empty.
bool KeepEeprom(const LoadCommand& command, TerminalOperator& op, const std::string& port,
                const std::string& chipIdHex, const ByteString& area);

}  // namespace veltra::terminal
