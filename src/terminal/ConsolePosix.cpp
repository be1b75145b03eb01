#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal/Console.h"

namespace veltra::terminal {

int TerminalColumns() {
    if (::isatty(STDOUT_FILENO) != 1) return 0;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

void PrepareConsole() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

}  // namespace veltra::terminal
