#include <windows.h>
#include <shellapi.h>

#include "terminal/Console.h"
#include "win32/SystemText.h"

namespace veltra::terminal {

bool StdoutIsTerminal() {
    // A console answers GetConsoleMode; a pipe, a file or NUL does not.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(win32::Utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return args;
}

}  // namespace veltra::terminal
