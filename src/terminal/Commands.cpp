#include "terminal/Commands.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "firmware/Sha256.h"
#include "loader/Download.h"
#include "protocol/CommandExchange.h"
#include "protocol/TrafficLog.h"
#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"
#include "terminal/CommandSteps.h"
#include "terminal/DeviceLog.h"
#include "terminal/EepromBackup.h"
#include "terminal/ExitCode.h"
#include "terminal/RomSteps.h"
#include "terminal/Station.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {
namespace {

// udev may make several links of one kind to a node ("-usb-" and "-usbv2-"
// under by-path); its link names carry no blanks.
std::string SpaceSeparated(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) text += (text.empty() ? "" : " ") + path;
    return text;
}

int ListPortsCommand(std::ostream& out) {
    for (const PortEntry& entry : ListPorts()) out << PortListLine(entry);
    out.flush();
    return kExitSuccess;
}

// "A", "A and B", "A, B and C".
std::string Enumeration(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

// Why the ports an adapter name matched cannot be told apart by it.
std::string SeveralPorts(const std::string& portName, const std::vector<PortEntry>& ports) {
    std::vector<std::string> named;
    bool oneAdapter = true;
    for (const PortEntry& port : ports) {
        named.push_back(port.name + " (" + port.device + " at USB " + port.usbPath + ")");
        oneAdapter = oneAdapter && port.usbPath == ports.front().usbPath;
    }
    if (oneAdapter) {
        return "--port " + portName + ": the adapter at USB " + ports.front().usbPath + " has several ports, " +
               Enumeration(named) + "; name one by its /dev/serial/by-id link";
    }
    return "--port " + portName + ": adapters " + Enumeration(named) + " report the same serial number " +
           ports.front().usbSerial + "; name one by its USB path (usb-path:" + ports.front().usbPath + ")";
}

int TestBlockCommand(const LoadCommand& command, TerminalOperator& op) {
    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.Port())) return kExitPortProblem;
    ByteString wrs;
    SendTestBlock(port, op, wrs);
    port.ClosePort();
    // The reply box ends with the block's status in decimal, as its rendering shows it.
    op.Conclude(OneLine(op.LastReply()));
    if (port.Lost()) return kExitPortProblem;
    return op.LastReply() == HexForm(std::to_string(kAccepted)) + "," ? kExitSuccess : kExitFailed;
}

int DownloadCommand(const LoadCommand& command, TerminalOperator& op, PortLog& log) {
    const auto start = Clock::now();
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    if (!choice.Chosen()) return EndedBeforeTheLine(log, op, start, kExitFileProblem);

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.Port())) return EndedBeforeTheLine(log, op, start, kExitPortProblem);
    ByteString wrs;
    op.EchoStatusLines(true);
    const auto runStart = Clock::now();
    RunDownload(port, op, wrs, choice, command.wait, LoaderWake::Needed, log.ImageHook());
    if (command.verbosity == Verbosity::Quiet) op.Conclude(OneLine(op.LastStatus()));
    int code = port.Lost() ? kExitPortProblem : ExitCodeOfStatus(op.LastStatus());
    code = Logged(log, op, 1, OneLine(op.LastStatus()), BytesOfStatus(op.LastStatus()), runStart, code);
    port.ClosePort();
    return code;
}

// Concludes a ROM bootloader run with its last words, and logs it. A run
// that ended before it reached the line (a file problem) has said why in its
// box.
int EndRomRun(TerminalOperator& op, PortLog& log, std::int64_t bytes, Clock::time_point runStart,
              rom::FlashingOutcome outcome) {
    const std::string last = LastWords(op.LastTrafficLog());
    if (!last.empty()) op.Conclude(last);
    return Logged(log, op, 1, last.empty() ? op.LastMessage() : last, bytes, runStart, ExitCodeOf(outcome));
}

// The window's hidden "Start", with the file of the command line as the one
// chosen and --eeprom as the EEPROM box; with --chip-id and --keep-eeprom the
// chip is read before the erase.
int RomCommand(const LoadCommand& command, TerminalOperator& op, PortLog& log) {
    const auto start = Clock::now();
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    if (!choice.Chosen()) return EndedBeforeTheLine(log, op, start, kExitFileProblem);

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.Port(), RomLineSettings(command.baud))) {
        return EndedBeforeTheLine(log, op, start, kExitPortProblem);
    }
    ByteString wrs;
    RomRunSeen seen;
    rom::FlashingOptions options = RomRunOptions(command, op, command.Port(), seen);
    options.imageRead = log.ImageHook();
    if (command.chipIdLength > 0) {
        // One chip is flashed whatever its ID: it is only told and logged.
        options.beforeErase = [&op, &log, &seen](const rom::ChipFacts& facts) {
            seen.chip = facts;
            if (facts.chipIdUnreadable) {
                op.Say("chip ID unreadable");
                log.SetChip({}, "chip ID unreadable");
            } else {
                const std::string chipId = LowerHex(facts.chipId);
                op.Say("chip ID " + chipId);
                log.SetChip(chipId, {});
            }
            return true;
        };
    }
    const auto runStart = Clock::now();
    const rom::FlashingOutcome outcome = rom::RunFlashing(port, op, wrs, choice, options);
    port.ClosePort();
    return EndRomRun(op, log, static_cast<std::int64_t>(seen.recordsWritten * rom::kRecordSize), runStart, outcome);
}

// --rom --restore-eeprom: the backup written back; nothing else is sent to
// the chip. A backup of another length is refused before the port is opened.
int RestoreCommand(const LoadCommand& command, TerminalOperator& op, PortLog& log) {
    const auto start = Clock::now();
    ByteString area;
    std::string problem;
    if (!ReadBackup(command.restoreEeprom, area, problem)) {
        op.ShowMessage({problem, MessageIcon::None, {}});
        return EndedBeforeTheLine(log, op, start, kExitFileProblem);
    }
    log.KeepImage({static_cast<std::int64_t>(area.size()),
                   Sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(area.data()), area.size()))});

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.Port(), RomLineSettings(command.baud))) {
        return EndedBeforeTheLine(log, op, start, kExitPortProblem);
    }
    ByteString wrs;
    const auto runStart = Clock::now();
    const rom::FlashingOutcome outcome = rom::RestoreEeprom(port, op, wrs, area, command.wait);
    port.ClosePort();
    const std::int64_t written = outcome == rom::FlashingOutcome::Written ? static_cast<std::int64_t>(area.size()) : 0;
    return EndRomRun(op, log, written, runStart, outcome);
}

// The file of --log, opened before anything else is done: a log that cannot
// be written must stop the run before a device is touched.
bool OpenLog(const LoadCommand& command, LogFile& file, TerminalOperator& op) {
    std::string reason;
    if (file.Open(command.log, reason)) return true;
    op.Complain("Cannot open the log file " + command.log + ": " + reason);
    return false;
}

int LoadFile(const LoadCommand& command, TerminalOperator& op, std::ostream& out, std::ostream& err, int columns) {
    LogFile file;
    if (!command.log.empty() && !OpenLog(command, file, op)) return kExitFileProblem;
    LogFile* const logFile = command.log.empty() ? nullptr : &file;
    if (command.loop) return RunLoopCommand(command, op, logFile, out, err, columns);
    PortLog log(logFile, command, command.Port());
    if (!command.restoreEeprom.empty()) return RestoreCommand(command, op, log);
    return command.rom ? RomCommand(command, op, log) : DownloadCommand(command, op, log);
}

}  // namespace

std::string PortListLine(const PortEntry& entry) {
    return entry.name + '\t' + entry.device + '\t' + entry.description + '\t' + entry.usbSerial + '\t' +
           entry.usbPath + '\t' + SpaceSeparated(entry.byId) + '\t' + SpaceSeparated(entry.byPath) + '\t' +
           (entry.sharedSerial ? kSharedSerialMark : "") + '\n';
}

std::string TerminalDeviceName(const std::string& portName) {
    if (!portName.empty() && portName.front() == '/') return portName;
    // Looked for anew at each open: after a re-plug the adapter's node may
    // have another name.
    if (IsAdapterName(portName)) return AdapterNode(portName);
    return DefaultDeviceName(portName);
}

void RefuseUnclearAdapterNames(const std::vector<std::string>& ports, const DeviceTree& tree) {
    for (const std::string& name : ports) {
        if (!IsAdapterName(name)) continue;
        if (const std::string refused = AdapterNamesRefused(); !refused.empty()) {
            throw UsageError("--port " + name + ": " + refused);
        }
        if (name == kUsbSerialPrefix) throw UsageError("--port usb: wants the adapter's serial number after usb:");
        if (name == kUsbPathPrefix) {
            throw UsageError("--port usb-path: wants the adapter's USB path after usb-path: (1-1.2)");
        }
        const std::vector<PortEntry> matching = PortsOfAdapter(name, tree);
        if (matching.size() > 1) throw UsageError(SeveralPorts(name, matching));
    }
}

int RunLoadCommand(const LoadCommand& command, std::ostream& out, std::ostream& err, int columns) {
    TerminalOperator op(out, err, columns > 0, command.verbosity);
    switch (command.action) {
        case Action::Help:
            out << kLoadUsage;
            out.flush();
            return kExitSuccess;
        case Action::Version:
            out << kLoadVersion << '\n';
            out.flush();
            return kExitSuccess;
        case Action::List: return ListPortsCommand(out);
        case Action::TestBlock:
            RefuseUnclearAdapterNames(command.ports);
            return TestBlockCommand(command, op);
        case Action::Download:
            RefuseUnclearAdapterNames(command.ports);
            return LoadFile(command, op, out, err, columns);
    }
    return kExitUsage;
}

}  // namespace veltra::terminal
