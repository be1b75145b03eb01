// veltra-load: the firmware download from a terminal, for the production line
// and scripts. The same core as the window's, with a terminal operator.
#include <exception>
#include <iostream>

#include "terminal/CommandLine.h"
#include "terminal/Commands.h"
#include "terminal/Console.h"
#include "terminal/ExitCode.h"

int main(int argc, char** argv) {
    using namespace veltra::terminal;
    PrepareConsole();
    try {
        const LoadCommand command = ParseLoadCommand(Utf8Arguments(argc, argv));
        return RunLoadCommand(command, std::cout, std::cerr, TerminalColumns());
    } catch (const UsageError& e) {
        std::cerr << "veltra-load: " << e.what() << " (--help lists the options)\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "veltra-load: " << e.what() << '\n';
        return kExitFailed;
    }
}
