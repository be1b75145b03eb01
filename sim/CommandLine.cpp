#include "sim/CommandLine.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace veltra::sim {

const char* const kSimUsage =
    "usage: veltra-sim [options]\n"
    "Plays the measuring device at the far end of a pseudo-terminal published as\n"
    "a serial device, so that the program can be tried without hardware.\n"
    "\n"
    "  --port NAME             port of the program's list to appear on: COMn: or an\n"
    "                          adapter name such as ttyUSB0 (default COM3:, i.e.\n"
    "                          /dev/ttyS2; a device node there is moved aside and\n"
    "                          put back at the end; needs root)\n"
    "  --link PATH             publish the pseudo-terminal as a symlink at PATH\n"
    "                          instead (any folder the user may write to; no root\n"
    "                          needed); the link is removed at the end\n"
    "  --attach PATH           play on the existing terminal PATH instead (such as\n"
    "                          the host side of a virtual machine's serial line,\n"
    "                          /dev/pts/N), set raw at 19200 8N1; nothing is\n"
    "                          published\n"
    "  --rom                   play the microcontroller's ROM bootloader instead of\n"
    "                          the device's own loader\n"
    "  --echo                  play a loopback plug instead: every byte received is\n"
    "                          sent back as it came\n"
    "  --handshake-attempt N   answer the wake-up 0x7F only on attempt N\n"
    "  --refuse-block K        refuse block K (loader only)\n"
    "  --split-block K         answer block K in two pieces, 80 ms apart (loader only)\n"
    "  --silent-from K         answer nothing from block K on (loader only)\n"
    "  --garbage-block K       answer block K with garbage (loader only)\n"
    "  --wake-once             answer the wake-up once only: awake, every byte is\n"
    "                          part of a block frame, 0x7F too (loader only)\n"
    "  --program-ms N          acknowledge each record written only N ms later, as\n"
    "                          the chip takes to program it (ROM only; default 0)\n"
    "  --erase-ms N            acknowledge the erase only N ms later (ROM only;\n"
    "                          default 0)\n"
    "  --refuse-write-at ADDR  refuse the record written at ADDR and keep the memory\n"
    "                          there (ROM only; ADDR in hex with 0x, or decimal)\n"
    "  --corrupt-write-at ADDR\n"
    "                          acknowledge the record written at ADDR but store its\n"
    "                          first byte inverted, for a read-back to find (ROM only)\n"
    "  --chip-id HEX           the chip's unique ID, 1 to 256 bytes in hex digits;\n"
    "                          no erase or write changes it (ROM only; default\n"
    "                          001700420956543438333035)\n"
    "  --chip-id-at ADDR       where Read Memory finds the ID (ROM only; default\n"
    "                          0x48CD)\n"
    "  --protected             read-out protection: Read Memory is refused at its\n"
    "                          command; Get, erase and writes go on (ROM only)\n"
    "  --calibration           the EEPROM holds calibration at 0x04000..0x043FF, a\n"
    "                          fixed pattern free of 0x5A, 0x00 and 0xFF, until an\n"
    "                          erase clears it (ROM only)\n"
    "  --pace                  play the line timing at the speed the program set\n"
    "                          (with --attach at 19200 baud: the far end's speed\n"
    "                          cannot be seen there)\n"
    "  --save FILE             at the end write what was loaded: the data of the\n"
    "                          accepted blocks (whole blocks, the last one padded),\n"
    "                          or with --rom the memory 0x04000..0x27FFF (the chip\n"
    "                          ID and the EEPROM included), or with\n"
    "                          --echo every byte received\n"
    "  --help                  this text\n"
    "\n"
    "Ctrl-C or SIGTERM ends it, removes the link and restores the device name.\n";

namespace {

int Count(const std::string& option, const char* text) {
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || text[used] != '\0' || value < 1) {
        throw std::invalid_argument(option + " wants a whole number from 1 up, not \"" + text + "\"");
    }
    return value;
}

int Milliseconds(const std::string& option, const char* text) {
    int value = -1;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc{} || stop != end || value < 0) {
        throw std::invalid_argument(option + " wants a whole number of milliseconds from 0 up, not \"" + text + "\"");
    }
    return value;
}

std::uint32_t Address(const std::string& option, const char* text) {
    std::string_view digits(text);
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc{} || stop != digits.data() + digits.size()) {
        throw std::invalid_argument(option + " wants an address, in hex with 0x or decimal, not \"" + text + "\"");
    }
    return value;
}

// Two hex digits a byte, nothing else.
ByteString HexBytes(const std::string& option, const char* text) {
    const std::string_view digits(text);
    const auto refused = [&] {
        return std::invalid_argument(option + " wants 1 to 256 bytes in hex digits, two a byte, not \"" + text + "\"");
    };
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() > 2 * 256) throw refused();
    ByteString bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        std::uint8_t value = 0;
        const auto [stop, error] = std::from_chars(digits.data() + i, digits.data() + i + 2, value, 16);
        if (error != std::errc{} || stop != digits.data() + i + 2) throw refused();
        AppendByte(bytes, value);
    }
    return bytes;
}

}  // namespace

SimCommand ParseSimCommand(int argc, const char* const* argv) {
    SimCommand command;
    // The program runs in another process, and refuses a line that another
    // process holds open: the device must not hold its own.
    command.device.holdLine = false;
    bool loaderOnly = false;
    std::string loaderOption;
    std::string romOption;  // the last option given that only the ROM bootloader plays
    bool portGiven = false;
    bool handshakeGiven = false;
    std::string chipIdAt;  // as given, for the message when the ID does not fit there
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw std::invalid_argument(option + " wants a value");
            return argv[++i];
        };
        const auto block = [&](int& field) {
            field = Count(option, value());
            loaderOnly = true;
            loaderOption = option;
        };
        if (option == "--help" || option == "-h") {
            command.help = true;
        } else if (option == "--port") {
            command.port = value();
            portGiven = true;
        } else if (option == "--link") {
            command.link = value();
            if (command.link.empty()) throw std::invalid_argument("--link wants a path, not \"\"");
        } else if (option == "--attach") {
            command.attach = value();
            if (command.attach.empty()) throw std::invalid_argument("--attach wants a path, not \"\"");
        } else if (option == "--rom") {
            command.rom = true;
        } else if (option == "--echo") {
            command.echo = true;
        } else if (option == "--handshake-attempt") {
            command.loader.handshakeAttempt = Count(option, value());
            handshakeGiven = true;
            command.romOptions.syncAttempt = command.loader.handshakeAttempt;
        } else if (option == "--refuse-block") {
            block(command.loader.refuseBlock);
        } else if (option == "--split-block") {
            block(command.loader.splitBlock);
        } else if (option == "--silent-from") {
            block(command.loader.silentFromBlock);
        } else if (option == "--garbage-block") {
            block(command.loader.garbageBlock);
        } else if (option == "--wake-once") {
            command.loader.wakeOnce = true;
            loaderOnly = true;
            loaderOption = option;
        } else if (option == "--program-ms") {
            command.romOptions.programTime = std::chrono::milliseconds(Milliseconds(option, value()));
            romOption = option;
        } else if (option == "--erase-ms") {
            command.romOptions.eraseTime = std::chrono::milliseconds(Milliseconds(option, value()));
            romOption = option;
        } else if (option == "--refuse-write-at") {
            command.romOptions.refuseWriteAt = Address(option, value());
            romOption = option;
        } else if (option == "--corrupt-write-at") {
            command.romOptions.corruptWriteAt = Address(option, value());
            romOption = option;
        } else if (option == "--chip-id") {
            command.romOptions.chipId = HexBytes(option, value());
            romOption = option;
        } else if (option == "--chip-id-at") {
            chipIdAt = value();
            command.romOptions.chipIdAt = Address(option, chipIdAt.c_str());
            romOption = option;
        } else if (option == "--protected") {
            command.romOptions.readProtected = true;
            romOption = option;
        } else if (option == "--calibration") {
            command.romOptions.calibration = RomBootloaderDevice::CalibrationPattern();
            romOption = option;
        } else if (option == "--pace") {
            command.device.paceLine = true;
        } else if (option == "--save") {
            command.saveFile = value();
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (portGiven && !command.link.empty()) throw std::invalid_argument("--port and --link both say where to appear: give one");
    if (!command.attach.empty() && (portGiven || !command.link.empty())) {
        throw std::invalid_argument("--attach plays on an existing terminal: not with " +
                                    std::string(portGiven ? "--port" : "--link"));
    }
    if (command.echo && command.rom) throw std::invalid_argument("--echo and --rom are two different devices: choose one");
    if (command.echo && loaderOnly) throw std::invalid_argument(loaderOption + " is for the device's loader, not with --echo");
    if (command.echo && handshakeGiven) throw std::invalid_argument("--handshake-attempt is for the loaders, not with --echo");
    if (command.rom && loaderOnly) throw std::invalid_argument(loaderOption + " is for the device's loader, not with --rom");
    if (!command.rom && !romOption.empty()) throw std::invalid_argument(romOption + " is for the ROM bootloader: give --rom too");
    const RomOptions& rom = command.romOptions;
    using Rom = RomBootloaderDevice;
    if (rom.chipIdAt < Rom::kMemoryStart || rom.chipIdAt > Rom::kMemoryEnd - rom.chipId.size()) {
        throw std::invalid_argument("--chip-id-at " + chipIdAt + " leaves no room for the chip ID's " +
                                    std::to_string(rom.chipId.size()) + " bytes inside 0x04000..0x27FFF");
    }
    // The program sets the speed on a pty of the device's own; an attached
    // line's far end is set where nobody here can see it.
    if (command.device.paceLine) command.device.baud = command.attach.empty() ? 0 : 19200;
    return command;
}

}  // namespace veltra::sim
