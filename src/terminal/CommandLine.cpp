#include "terminal/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>

namespace veltra::terminal {

const char* const kLoadVersion = "veltra-load (Boot Loader Veltra) " VELTRA_VERSION;

const char* const kLoadUsage =
    "usage: veltra-load [--port NAME] [--wait SECONDS] [--quiet|--verbose]\n"
    "                   [--log LOG] FILE\n"
    "       veltra-load --loop [--port NAME]... [--reconnect SECONDS]\n"
    "                   [--wait SECONDS] [--quiet|--verbose] [--log LOG] FILE\n"
    "       veltra-load [--loop [--reconnect SECONDS]] [--port NAME]...\n"
    "                   [--wait SECONDS] [--quiet|--verbose] --rom\n"
    "                   [--eeprom | --keep-eeprom [--backup-dir DIR]] [--baud N]\n"
    "                   [--verify] [--chip-id ADDR:LEN] [--log LOG] FILE\n"
    "       veltra-load [--port NAME] [--wait SECONDS] [--quiet|--verbose] --rom\n"
    "                   [--baud N] --restore-eeprom BACKUP\n"
    "       veltra-load [--port NAME] [--quiet|--verbose] --test-block\n"
    "       veltra-load --list\n"
    "Loads FILE into the measuring device through its own loader, as the window's\n"
    "\"Open File\", \"Open COM port\" and RUN do; with --rom, programs it into the\n"
    "microcontroller through its ROM bootloader instead.\n"
    "\n"
    "  --port NAME      the port: COM1: to COM9:, an adapter from --list (ttyUSB0),\n"
    "                   or a device path beginning with '/' (default COM1:);\n"
    "                   on Linux also a USB adapter, whatever tty name the kernel\n"
    "                   gave it this time: usb:SERIAL, the adapter with that USB\n"
    "                   serial number (refused when two adapters share it), or\n"
    "                   usb-path:PATH, the adapter plugged in at that USB path\n"
    "                   (1-1.2), both as --list shows them and looked up at each\n"
    "                   open; with --loop it may be given for several ports, each\n"
    "                   a line of devices of its own, all flashed at once\n"
    "  --wait SECONDS   how long to wake the device before giving up (default 30)\n"
    "  --quiet          print only the closing line\n"
    "  --verbose        print the device traffic as well\n"
    "  --loop           flash one device after another: after each, wait until it\n"
    "                   is taken off the line, then for the next one; Ctrl-C ends\n"
    "                   (at once while waiting, after the device being flashed;\n"
    "                   a second Ctrl-C ends at once); prints a summary per port\n"
    "  --reconnect SECONDS\n"
    "                   with --loop: when a port has gone (an adapter pulled out),\n"
    "                   its device counts as failed (exit 4) and the port is\n"
    "                   waited for this long to come back, under its name or, for\n"
    "                   usb:SERIAL and usb-path:PATH, as the same adapter; then its\n"
    "                   line goes on, a device still on it waited off first\n"
    "                   (default 30; 0 ends the line at once; Ctrl-C ends the wait)\n"
    "  --rom            program FILE through the microcontroller's ROM bootloader:\n"
    "                   erase, option bytes, the program records, Go; prints\n"
    "                   the records written and closes with the run's last words\n"
    "  --eeprom         with --rom: write the EEPROM records too\n"
    "  --baud N         with --rom: the line's speed, 9600, 19200 (default), 38400,\n"
    "                   57600 or 115200; the bootloader measures it from the first\n"
    "                   0x7F (the device's own loader runs at 19200 only)\n"
    "  --verify         with --rom: read every written record and the four option\n"
    "                   bytes back and compare\n"
    "  --chip-id ADDR:LEN\n"
    "                   with --rom: read the chip's unique ID (LEN bytes from ADDR,\n"
    "                   such as 0x48CD:12) before anything is erased; it goes into\n"
    "                   the device line and the log; with --loop a chip whose ID\n"
    "                   is the last one flashed on the port is not flashed again\n"
    "  --keep-eeprom    with --rom: read the data EEPROM (0x4000-0x43FF) before the\n"
    "                   erase, keep it in a backup file synced to disk, write it\n"
    "                   back after the program and read it back; not with --eeprom\n"
    "  --backup-dir DIR with --keep-eeprom: the folder of the backups (default the\n"
    "                   working folder)\n"
    "  --restore-eeprom BACKUP\n"
    "                   with --rom: write a backup of --keep-eeprom back into the\n"
    "                   data EEPROM and read it back; nothing is erased\n"
    "  --log LOG        append one line of JSON per device to LOG (created when\n"
    "                   missing), each on the disk before the next device: time\n"
    "                   (UTC), port, adapter, device (its number on the port),\n"
    "                   operation (download, rom or restore-eeprom), file, size,\n"
    "                   sha256 of the image sent, result (the closing line),\n"
    "                   bytes (the device took; with --rom the records written),\n"
    "                   seconds, exit; with --chip-id also chip_id (hex), and\n"
    "                   reason when the chip ID was unreadable\n"
    "  --test-block     send the fixed test block and print the reply box\n"
    "  --list           list the ports, one a line, tab-separated: name, device,\n"
    "                   description, then for a USB adapter its serial number,\n"
    "                   USB path, /dev/serial/by-id and /dev/serial/by-path links\n"
    "                   (several separated by a space), and duplicate-serial when\n"
    "                   another adapter present has the same serial number;\n"
    "                   empty where the system tells nothing\n"
    "  --help           this text\n"
    "  --version        the program's name and version\n"
    "\n"
    "Messages the window would show in a box go to standard error, one line each.\n"
    "\n"
    "Exit codes:\n"
    "  0   success\n"
    "  1   the transfer was refused or failed (the test block was not accepted;\n"
    "      with --rom: an erase or a record refused or unanswered, a record or\n"
    "      an option byte read back different, or the EEPROM to keep unreadable,\n"
    "      then nothing is erased)\n"
    "  2   no connection: nobody answered the wake-up within --wait\n"
    "  3   a file problem: FILE is missing, unreadable or not a regular file\n"
    "      (with --rom also: an image the run cannot program, or a backup of\n"
    "      --keep-eeprom that cannot be written, then nothing is erased); or the\n"
    "      --log file cannot be opened (nothing is done) or written (after the\n"
    "      device)\n"
    "  4   a port problem: the port cannot be opened, or it has gone during the\n"
    "      run (an adapter pulled out); with --loop, a device was cut off by it,\n"
    "      or it did not come back within --reconnect\n"
    "  64  bad usage\n"
    "With --loop: 0 when no device failed, else the code of the first that failed,\n"
    "on whichever port it was.\n";

namespace {

constexpr long long kMaxWaitSeconds = 24 * 60 * 60;
// Read Memory hands back 1 to 256 bytes; the bootloader's addresses have 24 bits.
constexpr std::size_t kMaxChipIdLength = 256;
constexpr unsigned long long kAddressLimit = 0x1000000;

// "0x48CD:12" (the address in hexadecimal with 0x, or in decimal; the length in decimal).
void ChipIdArea(const std::string& text, LoadCommand& command) {
    const auto refuse = [&text]() -> UsageError {
        return UsageError("--chip-id wants ADDR:LEN, such as 0x48CD:12 (LEN 1 to 256), not \"" + text + "\"");
    };
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) throw refuse();
    std::string address = text.substr(0, colon);
    const std::string length = text.substr(colon + 1);
    int base = 10;
    if (address.size() > 2 && address[0] == '0' && (address[1] == 'x' || address[1] == 'X')) {
        address = address.substr(2);
        base = 16;
    }
    unsigned long long at = 0;
    unsigned long long count = 0;
    const auto [addressEnd, addressError] = std::from_chars(address.data(), address.data() + address.size(), at, base);
    const auto [lengthEnd, lengthError] = std::from_chars(length.data(), length.data() + length.size(), count);
    if (address.empty() || addressError != std::errc{} || addressEnd != address.data() + address.size() ||
        length.empty() || lengthError != std::errc{} || lengthEnd != length.data() + length.size() || count < 1 ||
        count > kMaxChipIdLength || at + count > kAddressLimit) {
        throw refuse();
    }
    command.chipIdAddress = static_cast<std::uint32_t>(at);
    command.chipIdLength = static_cast<std::size_t>(count);
}

int RomBaud(const std::string& text) {
    for (const int baud : kRomBauds) {
        if (text == std::to_string(baud)) return baud;
    }
    throw UsageError("--baud wants 9600, 19200, 38400, 57600 or 115200, not \"" + text + "\"");
}

std::chrono::seconds Seconds(const std::string& option, const std::string& text, long long least) {
    long long seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || error != std::errc{} || stop != end || seconds < least || seconds > kMaxWaitSeconds) {
        throw UsageError(option + " wants whole seconds from " + std::to_string(least) + " to " +
                         std::to_string(kMaxWaitSeconds) + ", not \"" + text + "\"");
    }
    return std::chrono::seconds{seconds};
}

void SetAction(LoadCommand& command, Action action, const std::string& option, std::string& actionOption) {
    if (!actionOption.empty()) throw UsageError(actionOption + " and " + option + " cannot go together");
    command.action = action;
    actionOption = option;
}

}  // namespace

LoadCommand ParseLoadCommand(const std::vector<std::string>& args) {
    LoadCommand command;
    std::vector<std::string> files;
    std::string actionOption;   // --list or --test-block, when given
    std::string quietOrVerbose;
    bool portGiven = false;
    bool waitGiven = false;
    bool reconnectGiven = false;
    bool baudGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--port NAME" or "--port=NAME".
        const std::size_t equals = arg.find('=');
        const std::string option = arg.substr(0, equals);
        std::optional<std::string> inlineValue;
        if (equals != std::string::npos) inlineValue = arg.substr(equals + 1);
        const auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError(option + " wants a value");
            return args[++i];
        };
        if (inlineValue && option != "--port" && option != "--wait" && option != "--baud" && option != "--log" &&
            option != "--reconnect" && option != "--chip-id" && option != "--backup-dir" &&
            option != "--restore-eeprom") {
            throw UsageError("unknown option " + arg);
        }

        if (option == "--help" || option == "-h") {
            command.action = Action::Help;
            return command;
        }
        if (option == "--version") {
            command.action = Action::Version;
            return command;
        }
        if (option == "--port") {
            const std::string port = value();
            if (port.empty()) throw UsageError("--port wants a name, not \"\"");
            if (!portGiven) command.ports.clear();
            if (std::find(command.ports.begin(), command.ports.end(), port) != command.ports.end()) {
                throw UsageError("--port " + port + " is given twice");
            }
            command.ports.push_back(port);
            portGiven = true;
        } else if (option == "--wait") {
            command.wait = Seconds(option, value(), 1);
            waitGiven = true;
        } else if (option == "--reconnect") {
            command.reconnect = Seconds(option, value(), 0);
            reconnectGiven = true;
        } else if (option == "--quiet" || option == "--verbose") {
            if (!quietOrVerbose.empty() && quietOrVerbose != option) {
                throw UsageError("--quiet and --verbose cannot go together");
            }
            quietOrVerbose = option;
            command.verbosity = option == "--quiet" ? Verbosity::Quiet : Verbosity::Verbose;
        } else if (option == "--loop") {
            command.loop = true;
        } else if (option == "--rom") {
            command.rom = true;
        } else if (option == "--eeprom") {
            command.eeprom = true;
        } else if (option == "--verify") {
            command.verify = true;
        } else if (option == "--baud") {
            command.baud = RomBaud(value());
            baudGiven = true;
        } else if (option == "--chip-id") {
            ChipIdArea(value(), command);
        } else if (option == "--keep-eeprom") {
            command.keepEeprom = true;
        } else if (option == "--backup-dir") {
            command.backupDir = value();
            if (command.backupDir.empty()) throw UsageError("--backup-dir wants a folder, not \"\"");
        } else if (option == "--restore-eeprom") {
            command.restoreEeprom = value();
            if (command.restoreEeprom.empty()) throw UsageError("--restore-eeprom wants a backup file, not \"\"");
        } else if (option == "--log") {
            command.log = value();
            if (command.log.empty()) throw UsageError("--log wants a file name, not \"\"");
        } else if (option == "--list") {
            SetAction(command, Action::List, option, actionOption);
        } else if (option == "--test-block") {
            SetAction(command, Action::TestBlock, option, actionOption);
        } else {
            throw UsageError("unknown option " + arg);
        }
    }

    // A single download never waits for its port: a half-sent image is not
    // resumed, the device starts over.
    if (reconnectGiven && !command.loop) throw UsageError("--reconnect goes with --loop only");
    // Several ports are several lines of devices flashed at once.
    if (command.ports.size() > 1 && !command.loop) {
        throw UsageError("several ports go with --loop only: one line of devices on each");
    }

    // The ROM bootloader's own options.
    if (!command.rom) {
        if (baudGiven) throw UsageError("--baud goes with --rom only: the device's loader runs at 19200 baud");
        for (const auto& [given, name] : {std::pair{command.eeprom, "--eeprom"}, std::pair{command.verify, "--verify"},
                                          std::pair{command.chipIdLength > 0, "--chip-id"},
                                          std::pair{command.keepEeprom, "--keep-eeprom"},
                                          std::pair{!command.backupDir.empty(), "--backup-dir"},
                                          std::pair{!command.restoreEeprom.empty(), "--restore-eeprom"}}) {
            if (given) throw UsageError(std::string(name) + " goes with --rom only");
        }
    } else if (command.action != Action::Download) {
        throw UsageError(actionOption + " and --rom cannot go together");
    }
    if (command.keepEeprom && command.eeprom) {
        throw UsageError(
            "--keep-eeprom and --eeprom cannot go together: one keeps the device's EEPROM, the other writes the "
            "image's over it");
    }
    if (!command.backupDir.empty() && !command.keepEeprom) throw UsageError("--backup-dir goes with --keep-eeprom only");
    if (!command.restoreEeprom.empty()) {
        // A restore writes the backup and nothing else.
        for (const auto& [given, name] : {std::pair{command.loop, "--loop"}, std::pair{command.eeprom, "--eeprom"},
                                          std::pair{command.keepEeprom, "--keep-eeprom"},
                                          std::pair{command.verify, "--verify"},
                                          std::pair{command.chipIdLength > 0, "--chip-id"}}) {
            if (given) throw UsageError(std::string("--restore-eeprom and ") + name + " cannot go together");
        }
        if (!files.empty()) throw UsageError("--restore-eeprom takes no FILE: it writes its backup back");
        if (command.ports.size() > 1) throw UsageError("--restore-eeprom works on one port");
        return command;
    }

    if (command.action == Action::Download) {
        if (files.empty()) throw UsageError("no FILE to load");
        if (files.size() > 1) throw UsageError("one FILE at a time, not " + std::to_string(files.size()));
        command.file = files.front();
        return command;
    }
    if (!files.empty()) throw UsageError(actionOption + " takes no FILE");
    if (command.loop) throw UsageError("--loop is for loading a FILE, not with " + actionOption);
    if (waitGiven) throw UsageError("--wait is for loading a FILE, not with " + actionOption);
    if (!command.log.empty()) throw UsageError("--log is for loading a FILE, not with " + actionOption);
    if (command.action == Action::List && (portGiven || !quietOrVerbose.empty())) {
        throw UsageError("--list takes no other option");
    }
    return command;
}

}  // namespace veltra::terminal
