#include "terminal/CommandSteps.h"

#include "firmware/FileChoice.h"
#include "terminal/Commands.h"
#include "terminal/ExitCode.h"

namespace veltra::terminal {

bool OpenDevicePort(SerialPort& port, TerminalOperator& op, const std::string& name, const std::string& settings) {
    port.SetDeviceNameMap(TerminalDeviceName);
    if (port.OpenPort(name, settings)) return true;
    op.ShowMessage({name + " Not available!", MessageIcon::None, {}});
    return false;
}

FirmwareChoice ChooseCommandFile(const LoadCommand& command, TerminalOperator& op) {
    FirmwareChoice choice;
    op.SetFileAnswer(command.file);
    ChooseFirmwareFile(op, choice);
    return choice;
}

int Logged(PortLog& log, TerminalOperator& op, int device, const std::string& result, std::int64_t bytes,
           Clock::time_point start, int code) {
    std::string problem;
    if (log.Write(device, result, bytes, Clock::now() - start, code, problem)) return code;
    op.Complain(problem);
    return code == kExitSuccess ? kExitFileProblem : code;
}

int EndedBeforeTheLine(PortLog& log, TerminalOperator& op, Clock::time_point start, int code) {
    return Logged(log, op, 1, op.LastMessage(), 0, start, code);
}

}  // namespace veltra::terminal
