#include "terminal/Commands.h"

#include "firmware/FileChoice.h"
#include "loader/Download.h"
#include "protocol/CommandExchange.h"
#include "protocol/TrafficLog.h"
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
bool OpenDevicePort(SerialPort& port, TerminalOperator& op, const std::string& name) {
    port.SetDeviceNameMap(TerminalDeviceName);
    if (port.OpenPort(name, kDeviceLineSettings)) return true;
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

int DownloadCommand(const LoadCommand& command, TerminalOperator& op) {
    // "Open File", with the FILE of the command line as the dialog's answer:
    // the same checks and the same boxes as in the window.
    FirmwareChoice choice;
    op.SetFileAnswer(command.file);
    ChooseFirmwareFile(op, choice);
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
        case Action::Download: return DownloadCommand(command, op);
    }
    return kExitUsage;
}

}  // namespace veltra::terminal
