// veltra-sim: the measuring device without hardware. Publishes a simulated
// device under a port name of the program's list (or as a link at a path of
// the user's choice, or plays it on a terminal that exists already) and plays
// it until Ctrl-C.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "serial/SerialPort.h"
#include "sim/AttachedLine.h"
#include "sim/CommandLine.h"
#include "sim/DeviceLink.h"
#include "sim/EchoDevice.h"
#include "sim/SimDevice.h"
#include "sim/Trace.h"

namespace {

using namespace veltra::sim;

bool Save(const std::string& file, const veltra::ByteString& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int Run(const SimCommand& command) {
    const std::string devicePath = command.link.empty() ? veltra::DefaultDeviceName(command.port) : command.link;
    if (devicePath.empty()) {
        std::fprintf(stderr, "veltra-sim: %s is not a port of the program's list (COM1: to COM9:, or an adapter name such as ttyUSB0)\n",
                     command.port.c_str());
        return 2;
    }

    // Blocked before the device thread starts, so that only sigwait below sees
    // them and no handler runs in the middle of anything.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&endSignals, s);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    std::shared_ptr<LoaderDevice> loader;
    std::shared_ptr<RomBootloaderDevice> rom;
    std::shared_ptr<Personality> played;
    const char* what = "the device's loader";
    if (command.echo) {
        played = std::make_shared<EchoDevice>();
        what = "a loopback plug";
    } else if (command.rom) {
        rom = std::make_shared<RomBootloaderDevice>(command.romOptions);
        played = std::make_shared<RomTrace>(rom, stdout);
        what = "the ROM bootloader";
    } else {
        loader = std::make_shared<LoaderDevice>(command.loader);
        played = std::make_shared<LoaderTrace>(loader, stdout);
    }
    const std::string paced = !command.device.paceLine   ? ""
                              : command.device.baud <= 0 ? ", paced at the speed the program sets"
                                                         : ", paced at " + std::to_string(command.device.baud) + " baud";
    std::unique_ptr<SimDevice> simDevice;
    std::unique_ptr<DeviceLink> link;
    try {
        if (!command.attach.empty()) {
            simDevice = std::make_unique<SimDevice>(played, OpenAttachedLine(command.attach), command.attach, command.device);
            std::printf("veltra-sim: %s attached to %s%s; Ctrl-C ends\n", what, command.attach.c_str(), paced.c_str());
        } else {
            simDevice = std::make_unique<SimDevice>(played, command.device);
            link = std::make_unique<DeviceLink>(devicePath, simDevice->Path());
            const std::string where =
                command.link.empty() ? "on " + command.port + " (" + devicePath + " -> " : "at " + devicePath + " (-> ";
            std::printf("veltra-sim: %s %s%s%s)%s; Ctrl-C ends\n", what, where.c_str(), simDevice->Path().c_str(),
                        link->MovedAside() ? ", original saved aside" : "", paced.c_str());
        }
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "veltra-sim: %s\n", e.what());
        return 1;
    }
    SimDevice& device = *simDevice;

    int received = 0;
    sigwait(&endSignals, &received);
    device.Stop();

    const std::string problems = link ? link->Restore() : std::string();
    if (!problems.empty()) std::fprintf(stderr, "veltra-sim: %s\n", problems.c_str());
    std::printf("veltra-sim: ended; %zu bytes received", device.Received().size());
    veltra::ByteString loaded;
    if (command.echo) {
        loaded = device.Received();
        std::printf(", all sent back\n");
    } else if (loader) {
        loaded = loader->Firmware();
        std::printf(", %zu blocks, %zu bytes of firmware accepted\n", loader->Frames().size(), loaded.size());
    } else {
        loaded = rom->Memory(RomBootloaderDevice::kMemoryStart,
                             RomBootloaderDevice::kMemoryEnd - RomBootloaderDevice::kMemoryStart);
        std::printf(", %zu frames, %d global and %d EEPROM erases%s\n", rom->Frames().size(), rom->GlobalErases(),
                    rom->EepromErases(), rom->GoReceived() ? ", Go received" : "");
    }
    if (!command.saveFile.empty()) {
        if (!Save(command.saveFile, loaded)) {
            std::fprintf(stderr, "veltra-sim: cannot write %s\n", command.saveFile.c_str());
            return 1;
        }
        std::printf("veltra-sim: %zu bytes written to %s\n", loaded.size(), command.saveFile.c_str());
    }
    return problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the trace comes from the device thread, line by line
    SimCommand command;
    try {
        command = ParseSimCommand(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "veltra-sim: %s (--help lists the options)\n", e.what());
        return 2;
    }
    if (command.help) {
        std::printf("%s", kSimUsage);
        return 0;
    }
    try {
        return Run(command);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veltra-sim: %s\n", e.what());
        return 1;
    }
}
