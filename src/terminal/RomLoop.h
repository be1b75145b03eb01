#pragma once
// --loop --rom: blank boards one after another, each programmed through its
// microcontroller's ROM bootloader. A board counts as there once it answers
// the line's 0x7F with 0x79 and then Get as a ROM bootloader does; nothing is
// erased before both. A device that answers 0x79 but not Get (a flashed
// board's own loader) is not flashed, nor is the chip flashed last on the port
// (--chip-id): both are waited off the line.
#include <string>

#include "firmware/FirmwareImage.h"
#include "serial/ByteString.h"
#include "serial/SerialPort.h"
#include "terminal/CommandLine.h"
#include "terminal/DeviceLoop.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// What a port's line of boards remembers from one board to the next.
struct RomLine {
    std::string lastChipId;  // of the last board flashed whole on the port, hex; empty for none
};

// The ROM run of `image` as a device's turn, its bootloader synchronised
// already by the line's 0x7F. `port` is named `portName` on the command line.
FlashDevice RomTurn(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareImage& image,
                    const LoadCommand& command, const std::string& portName, RomLine& line);

}  // namespace veltra::terminal
