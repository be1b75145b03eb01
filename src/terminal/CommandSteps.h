#pragma once
// The steps the commands of veltra-load share: the window's "Open File" and
// "Open COM port" with the command line's answers, and a device's line in
// the log.
#include <chrono>
#include <string>

#include "firmware/FirmwareChoice.h"
#include "serial/SerialPort.h"
#include "terminal/CommandLine.h"
#include "terminal/DeviceLog.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

using Clock = std::chrono::steady_clock;

// "Open COM port": on failure the port has shown why, and the window names
// the port that failed in a box of its own.
bool OpenDevicePort(SerialPort& port, TerminalOperator& op, const std::string& name,
                    const std::string& settings = kDeviceLineSettings);

// "Open File", with the FILE of the command line as the dialog's answer: the
// same checks and the same boxes as in the window. Nothing when refused.
FirmwareChoice ChooseCommandFile(const LoadCommand& command, TerminalOperator& op);

// Appends the line of a device to the log. One that cannot be written is
// told, and a success becomes a file problem: no device may pass for logged
// that is not.
int Logged(PortLog& log, TerminalOperator& op, int device, const std::string& result, std::int64_t bytes,
           Clock::time_point start, int code);

// A run that ends before it reaches the line, on a file or port problem,
// still leaves its line, as its first device: the box that said why is its
// result.
int EndedBeforeTheLine(PortLog& log, TerminalOperator& op, Clock::time_point start, int code);

}  // namespace veltra::terminal
