#include "terminal/Station.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "rombootloader/FlashingRun.h"
#include "terminal/CommandSteps.h"
#include "terminal/Commands.h"
#include "terminal/DeviceLog.h"
#include "terminal/DeviceLoop.h"
#include "terminal/ExitCode.h"
#include "terminal/Interrupt.h"
#include "terminal/PortReturn.h"
#include "terminal/RomLoop.h"
#include "terminal/RomSteps.h"
#include "terminal/StationScreen.h"

namespace veltra::terminal {
namespace {

// What the line of devices on one port came to.
struct PortLine {
    LoopTally tally;
    bool opened = false;
};

// Two names of one port ("ttyUSB0" and "/dev/ttyUSB0", or a link in
// /dev/serial/by-id and its target) would have two threads on one device.
void RefuseSamePortTwice(const std::vector<std::string>& ports) {
    std::vector<std::string> devices;
    for (const std::string& name : ports) {
        std::string device = TerminalDeviceName(name);
        std::error_code error;
        if (!device.empty() && device.front() == '/') {
            const std::filesystem::path real = std::filesystem::weakly_canonical(device, error);
            if (!error) device = real.string();
        }
        for (std::size_t i = 0; i < devices.size(); ++i) {
            // A name that stands for nothing now (an adapter not plugged in
            // yet) cannot be told from another such name; each fails to open.
            if (!device.empty() && devices[i] == device) {
                throw UsageError("--port " + ports[i] + " and --port " + name + " are the same port (" + device + ")");
            }
        }
        devices.push_back(device);
    }
}

std::string PortSummary(const PortLine& line) {
    return line.opened ? TallyLine(line.tally) : "the port could not be opened";
}

PortLine RunPortLine(const LoadCommand& command, const std::string& name, TerminalOperator& op, LogFile* logFile,
                     const FirmwareImage& image, const ImageFacts& facts) {
    PortLine line;
    PortLog log(logFile, command, name);
    SerialPort port(op);
    const auto start = Clock::now();
    // The ROM bootloader takes the line's speed from the first 0x7F.
    const std::string settings = command.rom ? RomLineSettings(command.baud) : kDeviceLineSettings;
    if (!OpenDevicePort(port, op, name, settings)) {
        line.tally.Fail(static_cast<ExitCode>(EndedBeforeTheLine(log, op, start, kExitPortProblem)));
        op.ShowEnded("ended: " + PortSummary(line));
        return line;
    }
    line.opened = true;
    log.KeepImage(facts);
    ByteString wrs;
    LoopHooks hooks;
    hooks.deviceEnded = [&](const DeviceEnd& end) {
        std::string problem;
        if (end.chipIdAsked) log.SetChip(end.chipId, end.chipId.empty() ? "chip ID unreadable" : "");
        if (log.Write(end.number, OneLine(end.status), end.bytes, end.elapsed, end.code, problem)) return true;
        op.Complain(problem);
        return false;
    };
    RomLine rom;
    const FlashDevice flash = command.rom ? RomTurn(port, op, wrs, image, command, name, rom)
                                          : DownloadTurn(port, op, wrs, image, command.wait);
    LoopStart stretch = LoopStart::Fresh;
    for (;;) {
        const LoopEnd end = RunLineOfDevices(port, op, wrs, flash, line.tally, stretch, hooks);
        if (end != LoopEnd::PortGone) break;
        // A port that has gone and does not come back ends its line with the
        // port problem, whether a device was on it or not.
        if (command.reconnect.count() == 0 || Interrupted() ||
            !AwaitPortReturn(port, op, name, settings, command.reconnect)) {
            line.tally.Fail(kExitPortProblem);
            break;
        }
        ++line.tally.reconnects;
        stretch = LoopStart::Returned;
    }
    port.ClosePort();
    op.ShowEnded("ended: " + PortSummary(line));
    return line;
}

// The port's line on a thread of its own. Nothing it meets may end the
// other ports: what escapes it is told and counted as its failure.
PortLine RunPortLineGuarded(const LoadCommand& command, const std::string& name, TerminalOperator& op,
                            LogFile* logFile, const FirmwareImage& image, const ImageFacts& facts) {
    try {
        return RunPortLine(command, name, op, logFile, image, facts);
    } catch (const std::exception& e) {
        op.Complain(std::string("veltra-load: ") + e.what());
    }
    PortLine line;
    line.tally.Fail(kExitFailed);
    return line;
}

std::string TotalLine(const std::vector<PortLine>& lines) {
    LoopTally total;
    for (const PortLine& line : lines) {
        total.devices += line.tally.devices;
        total.succeeded += line.tally.succeeded;
        total.failed += line.tally.failed;
        total.reconnects += line.tally.reconnects;
    }
    return "All " + std::to_string(lines.size()) + " ports, " + TallyLine(total);
}

// The code of the failure that came first, on whichever port.
ExitCode FirstFailure(const std::vector<PortLine>& lines) {
    const PortLine* first = nullptr;
    for (const PortLine& line : lines) {
        if (line.tally.firstFailure == kExitSuccess) continue;
        if (first == nullptr || line.tally.firstFailureAt < first->tally.firstFailureAt) first = &line;
    }
    return first == nullptr ? kExitSuccess : first->tally.firstFailure;
}

int RunStation(const LoadCommand& command, TerminalOperator& op, LogFile* logFile, const FirmwareImage& image,
               const ImageFacts& facts, std::ostream& out, std::ostream& err, int columns) {
    const std::size_t count = command.ports.size();
    StationScreen screen(out, err, command.ports, columns);
    std::vector<std::unique_ptr<TerminalOperator>> ops;
    for (std::size_t slot = 0; slot < count; ++slot) {
        ops.push_back(std::make_unique<TerminalOperator>(screen, slot, command.verbosity));
        // The bar's length, as "Open File" set it for the file chosen.
        ops.back()->SetProgressMaximum(op.ProgressMaximum());
    }
    std::vector<PortLine> lines(count);
    {
        std::vector<std::jthread> threads;
        for (std::size_t slot = 0; slot < count; ++slot) {
            threads.emplace_back([&, slot] {
                lines[slot] = RunPortLineGuarded(command, command.ports[slot], *ops[slot], logFile, image, facts);
            });
        }
    }
    screen.Close();
    for (std::size_t slot = 0; slot < count; ++slot) ops[slot]->Conclude(PortSummary(lines[slot]));
    op.Conclude(TotalLine(lines));
    return FirstFailure(lines);
}

}  // namespace

int RunLoopCommand(const LoadCommand& command, TerminalOperator& op, LogFile* logFile, std::ostream& out,
                   std::ostream& err, int columns) {
    RefuseSamePortTwice(command.ports);
    const auto start = Clock::now();
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    std::optional<FirmwareImage> image;
    if (choice.Chosen()) image = LoadFirmwareImage(op, choice.path);
    // An image the ROM run cannot program would be refused on every board:
    // refused once, before any port is opened.
    if (image && command.rom && !rom::ImageFitForFlashing(*image, command.eeprom)) {
        op.ShowMessage({" File corrupt ", MessageIcon::None, {}});
        image.reset();
    }
    if (!image) {
        // Each port's log still has its line for the run.
        for (const std::string& name : command.ports) {
            PortLog log(logFile, command, name);
            EndedBeforeTheLine(log, op, start, kExitFileProblem);
        }
        return kExitFileProblem;
    }
    const ImageFacts facts = logFile != nullptr ? FactsOf(*image) : ImageFacts{};
    CatchInterrupts();
    if (command.ports.size() == 1) {
        const PortLine line = RunPortLine(command, command.Port(), op, logFile, *image, facts);
        if (line.opened) op.Conclude(TallyLine(line.tally));
        return line.tally.firstFailure;
    }
    return RunStation(command, op, logFile, *image, facts, out, err, columns);
}

}  // namespace veltra::terminal
