#pragma once
// --loop: a line of devices on each port of the command line, all flashed at
// once. The image is read and checked once and sent to every device; each
// port has its own thread, port, request buffer and operator, so that a
// refusal, a silent device or a lost port on one never holds up the others.
#include <ostream>

#include "terminal/CommandLine.h"
#include "terminal/LogFile.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// `op` chooses and reads the file and says what concerns no port alone.
// `logFile` may be null: no log. `columns`: the terminal's width, 0 off a
// terminal. Throws UsageError for two names of one port. Returns 0 when no
// device failed, else the code of the first failure on any port.
int RunLoopCommand(const LoadCommand& command, TerminalOperator& op, LogFile* logFile, std::ostream& out,
                   std::ostream& err, int columns);

}  // namespace veltra::terminal
