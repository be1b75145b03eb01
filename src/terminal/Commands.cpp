#include "terminal/Commands.h"

#include <chrono>

#include "firmware/FileChoice.h"
#include "loader/Download.h"
#include "protocol/CommandExchange.h"
#include "protocol/TrafficLog.h"
#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"
#include "terminal/DeviceLog.h"
#include "terminal/DeviceLoop.h"
#include "terminal/ExitCode.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {
namespace {

using Clock = std::chrono::steady_clock;

int ListPortsCommand(std::ostream& out) {
    for (const PortEntry& entry : ListPorts()) {
        out << entry.name << '\t' << entry.device << '\t' << entry.description << '\n';
    }
    out.flush();
    return kExitSuccess;
}

// "Open COM port": on failure the port has shown why, and the window names
// the port that failed in a box of its own.
bool OpenDevicePort(SerialPort& port, TerminalOperator& op, const std::string& name,
                    const std::string& settings = kDeviceLineSettings) {
    port.SetDeviceNameMap(TerminalDeviceName);
    if (port.OpenPort(name, settings)) return true;
    op.ShowMessage({name + " Not available!", MessageIcon::None, {}});
    return false;
}

int TestBlockCommand(const LoadCommand& command, TerminalOperator& op) {
    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.port)) return kExitPortProblem;
    ByteString wrs;
    SendTestBlock(port, op, wrs);
    port.ClosePort();
    // The reply box ends with the block's status in decimal, as its rendering shows it.
    op.Conclude(OneLine(op.LastReply()));
    if (port.Lost()) return kExitPortProblem;
    return op.LastReply() == HexForm(std::to_string(kAccepted)) + "," ? kExitSuccess : kExitFailed;
}

// "Open File", with the FILE of the command line as the dialog's answer: the
// same checks and the same boxes as in the window. Nothing when refused.
FirmwareChoice ChooseCommandFile(const LoadCommand& command, TerminalOperator& op) {
    FirmwareChoice choice;
    op.SetFileAnswer(command.file);
    ChooseFirmwareFile(op, choice);
    return choice;
}

// Appends the line of a device to the log. One that cannot be written is
// told, and a success becomes a file problem: no device may pass for logged
// that is not.
int Logged(PortLog& log, TerminalOperator& op, int device, const std::string& result, std::int64_t bytes,
           Clock::time_point start, int code) {
    std::string problem;
    if (log.Write(device, result, bytes, Clock::now() - start, code, problem)) return code;
    op.Complain(problem);
    return code == kExitSuccess ? kExitFileProblem : code;
}

// A run that ends before it reaches the line, on a file or port problem,
// still leaves its line, as its first device: the box that said why is its
// result.
int EndedBeforeTheLine(PortLog& log, TerminalOperator& op, Clock::time_point start, int code) {
    return Logged(log, op, 1, op.LastMessage(), 0, start, code);
}

int DownloadCommand(const LoadCommand& command, TerminalOperator& op, PortLog& log) {
    const auto start = Clock::now();
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    if (!choice.Chosen()) return EndedBeforeTheLine(log, op, start, kExitFileProblem);

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.port)) return EndedBeforeTheLine(log, op, start, kExitPortProblem);
    ByteString wrs;
    int code = kExitSuccess;
    if (command.loop) {
        LoopHooks hooks;
        hooks.imageRead = log.ImageHook();
        hooks.deviceEnded = [&](const DeviceEnd& end) {
            std::string problem;
            if (log.Write(end.number, OneLine(end.status), BytesOfStatus(end.status), end.elapsed, end.code, problem)) {
                return true;
            }
            op.Complain(problem);
            return false;
        };
        code = RunDeviceLoop(port, op, wrs, choice, command.wait, hooks);
    } else {
        op.EchoStatusLines(true);
        const auto runStart = Clock::now();
        RunDownload(port, op, wrs, choice, command.wait, LoaderWake::Needed, log.ImageHook());
        if (command.verbosity == Verbosity::Quiet) op.Conclude(OneLine(op.LastStatus()));
        code = port.Lost() ? kExitPortProblem : ExitCodeOfStatus(op.LastStatus());
        code = Logged(log, op, 1, OneLine(op.LastStatus()), BytesOfStatus(op.LastStatus()), runStart, code);
    }
    port.ClosePort();
    return code;
}

// The last words of a run log, what the run ended with: its entries stand
// apart by two spaces or more ("Running !  Ok!     Block 1    -----Failed------").
// Empty while the log holds its first entry only.
std::string LastWords(const std::string& runLog) {
    const std::string log = OneLine(runLog);
    const std::size_t gap = log.rfind("  ");
    return gap == std::string::npos ? std::string{} : log.substr(log.find_first_not_of(' ', gap));
}

ExitCode ExitCodeOf(rom::FlashingOutcome outcome) {
    switch (outcome) {
        case rom::FlashingOutcome::Written: return kExitSuccess;
        case rom::FlashingOutcome::Refused: return kExitFailed;
        case rom::FlashingOutcome::NoSync: return kExitNoConnection;
        case rom::FlashingOutcome::FileProblem: return kExitFileProblem;
        case rom::FlashingOutcome::PortProblem: return kExitPortProblem;
    }
    return kExitFailed;
}

// The window's hidden "Start", with the file of the command line as the one
// chosen and --eeprom as the EEPROM box.
int RomCommand(const LoadCommand& command, TerminalOperator& op, PortLog& log) {
    const auto start = Clock::now();
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    if (!choice.Chosen()) return EndedBeforeTheLine(log, op, start, kExitFileProblem);

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.port, std::to_string(command.baud) + ",n,8,1")) {
        return EndedBeforeTheLine(log, op, start, kExitPortProblem);
    }
    op.SetEeprom(command.eeprom);
    ByteString wrs;
    std::size_t recordsWritten = 0;
    rom::FlashingOptions options;
    options.wakePatience = command.wait;
    options.readBack = command.verify;
    options.progress = [&op, &recordsWritten](rom::RunPhase phase, std::size_t done, std::size_t total) {
        if (phase == rom::RunPhase::Writing) recordsWritten = done;
        op.ShowRecords(phase == rom::RunPhase::Writing ? "written" : "read back", done, total);
    };
    options.imageRead = log.ImageHook();
    const auto runStart = Clock::now();
    const rom::FlashingOutcome outcome = rom::RunFlashing(port, op, wrs, choice, options);
    port.ClosePort();
    // A run that ended before it reached the line (a file problem) has said
    // why in its box.
    const std::string last = LastWords(op.LastTrafficLog());
    if (!last.empty()) op.Conclude(last);
    return Logged(log, op, 1, last.empty() ? op.LastMessage() : last,
                  static_cast<std::int64_t>(recordsWritten * rom::kRecordSize), runStart, ExitCodeOf(outcome));
}

// The file of --log, opened before anything else is done: a log that cannot
// be written must stop the run before a device is touched.
bool OpenLog(const LoadCommand& command, LogFile& file, TerminalOperator& op) {
    std::string reason;
    if (file.Open(command.log, reason)) return true;
    op.Complain("Cannot open the log file " + command.log + ": " + reason);
    return false;
}

int LoadFile(const LoadCommand& command, TerminalOperator& op) {
    LogFile file;
    if (!command.log.empty() && !OpenLog(command, file, op)) return kExitFileProblem;
    PortLog log(command.log.empty() ? nullptr : &file, command);
    return command.rom ? RomCommand(command, op, log) : DownloadCommand(command, op, log);
}

}  // namespace

std::string TerminalDeviceName(const std::string& portName) {
    if (!portName.empty() && portName.front() == '/') return portName;
    return DefaultDeviceName(portName);
}

int RunLoadCommand(const LoadCommand& command, std::ostream& out, std::ostream& err, bool terminal) {
    TerminalOperator op(out, err, terminal, command.verbosity);
    switch (command.action) {
        case Action::Help:
            out << kLoadUsage;
            out.flush();
            return kExitSuccess;
        case Action::List: return ListPortsCommand(out);
        case Action::TestBlock: return TestBlockCommand(command, op);
        case Action::Download: return LoadFile(command, op);
    }
    return kExitUsage;
}

}  // namespace veltra::terminal
