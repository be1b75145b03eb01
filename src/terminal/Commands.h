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

// Prints to `out` and `err`; returns the exit code. `terminal`: `out` is a
// terminal, where a progress line is redrawn in place.
int RunLoadCommand(const LoadCommand& command, std::ostream& out, std::ostream& err, bool terminal);

}  // namespace veltra::terminal
