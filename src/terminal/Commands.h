#pragma once
// What veltra-load does for a command line, through the core and a terminal
// operator: list the ports, send the test block, or load a file once or into
// one device after another.
#include <ostream>
#include <string>

#include "terminal/CommandLine.h"

namespace veltra::terminal {

// What the program opens for a port name: a path beginning with '/' as it
// stands; any other name as the window opens it.
std::string TerminalDeviceName(const std::string& portName);

// Prints to `out` and `err`; returns the exit code. `columns`: the width of
// the terminal `out` is, where progress and live lines are redrawn in place;
// 0 when it is none. Throws UsageError for a command line that only the
// system can find wrong (two names of one port).
int RunLoadCommand(const LoadCommand& command, std::ostream& out, std::ostream& err, int columns);

}  // namespace veltra::terminal
