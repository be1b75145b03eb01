#include "terminal/Commands.h"

#include "firmware/FileChoice.h"
#include "loader/Download.h"
#include "protocol/CommandExchange.h"
#include "protocol/TrafficLog.h"
#include "rombootloader/FlashingRun.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"
#include "terminal/DeviceLoop.h"
#include "terminal/ExitCode.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {
namespace {

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

int DownloadCommand(const LoadCommand& command, TerminalOperator& op) {
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    if (!choice.Chosen()) return kExitFileProblem;

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.port)) return kExitPortProblem;
    ByteString wrs;
    int code = kExitSuccess;
    if (command.loop) {
        code = RunDeviceLoop(port, op, wrs, choice, command.wait);
    } else {
        op.EchoStatusLines(true);
        RunDownload(port, op, wrs, choice, command.wait);
        if (command.verbosity == Verbosity::Quiet) op.Conclude(OneLine(op.LastStatus()));
        code = port.Lost() ? kExitPortProblem : ExitCodeOfStatus(op.LastStatus());
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
int RomCommand(const LoadCommand& command, TerminalOperator& op) {
    const FirmwareChoice choice = ChooseCommandFile(command, op);
    if (!choice.Chosen()) return kExitFileProblem;

    SerialPort port(op);
    if (!OpenDevicePort(port, op, command.port, std::to_string(command.baud) + ",n,8,1")) return kExitPortProblem;
    op.SetEeprom(command.eeprom);
    ByteString wrs;
    rom::FlashingOptions options;
    options.wakePatience = command.wait;
    options.readBack = command.verify;
    options.progress = [&op](rom::RunPhase phase, std::size_t done, std::size_t total) {
        op.ShowRecords(phase == rom::RunPhase::Writing ? "written" : "read back", done, total);
    };
    const rom::FlashingOutcome outcome = rom::RunFlashing(port, op, wrs, choice, options);
    port.ClosePort();
    // A run that ended before it reached the line (a file problem) has said
    // why in its box.
    if (const std::string last = LastWords(op.LastTrafficLog()); !last.empty()) op.Conclude(last);
    return ExitCodeOf(outcome);
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
        case Action::Download: return command.rom ? RomCommand(command, op) : DownloadCommand(command, op);
    }
    return kExitUsage;
}

}  // namespace veltra::terminal
