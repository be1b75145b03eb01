#pragma once
// The command line of veltra-load.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace veltra::terminal {

enum class Action { Download, List, TestBlock, Help, Version };
enum class Verbosity { Quiet, Normal, Verbose };

struct LoadCommand {
    Action action = Action::Download;
    // The ports, in the order given; several only with --loop, a line of
    // devices on each. COM1: is the first entry of the window's port list.
    std::vector<std::string> ports{"COM1:"};
    std::chrono::seconds wait{30};   // patience of the wake-up, as the window's
    Verbosity verbosity = Verbosity::Normal;
    bool loop = false;
    // --loop: how long a port that has gone (an adapter pulled out) is waited
    // for to come back before its line ends; 0 ends it at once.
    std::chrono::seconds reconnect{30};
    // Program the microcontroller through its ROM bootloader instead, as the
    // window's hidden "Start" does.
    bool rom = false;
    bool eeprom = false;  // --rom: write the EEPROM records too
    bool verify = false;  // --rom: read every written record back
    int baud = 19200;     // --rom: the bootloader takes its speed from the first 0x7F
    // --rom --chip-id ADDR:LEN: the chip's unique ID, read before the erase; length 0 for none.
    std::uint32_t chipIdAddress = 0;
    std::size_t chipIdLength = 0;
    bool keepEeprom = false;    // --rom: keep the data EEPROM's area through the erase
    std::string backupDir;      // --keep-eeprom: where its backups go; empty for the working folder
    std::string restoreEeprom;  // --rom --restore-eeprom: the backup to write back; empty for none
    std::string file;
    std::string log;      // --log: the file a line per device is appended to; empty for none

    // The port of a run on one port.
    const std::string& Port() const { return ports.front(); }
};

// The speeds --baud takes.
inline constexpr int kRomBauds[] = {9600, 19200, 38400, 57600, 115200};

// What the program says about a command line it cannot take; ends it with
// the usage exit code.
class UsageError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The text of --help: the options and the exit codes.
extern const char* const kLoadUsage;
// The line of --version: the program, the product and its version.
extern const char* const kLoadVersion;

// `args` without the program's own name. Throws UsageError naming what is wrong.
LoadCommand ParseLoadCommand(const std::vector<std::string>& args);

}  // namespace veltra::terminal
