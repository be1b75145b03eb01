#include <unistd.h>

#include "terminal/Console.h"

namespace veltra::terminal {

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void PrepareConsole() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

}  // namespace veltra::terminal
