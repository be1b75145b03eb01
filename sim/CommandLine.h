#pragma once
// The options of the veltra-sim executable.
#include <optional>
#include <string>

#include "sim/LoaderDevice.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/SimDevice.h"

namespace veltra::sim {

struct SimCommand {
    bool help = false;
    std::string port = "COM3:";
    std::string link;  // "" = publish at the port's device node instead
    std::string attach;  // "" = publish a pty of its own; else play on this existing terminal
    bool rom = false;
    bool echo = false;
    LoaderOptions loader;
    RomOptions romOptions;
    DeviceOptions device;
    std::string saveFile;  // "" = do not save
};

extern const char* const kSimUsage;

// Throws std::invalid_argument with a message naming the bad option.
SimCommand ParseSimCommand(int argc, const char* const* argv);

}  // namespace veltra::sim
