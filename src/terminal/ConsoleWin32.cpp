#include <windows.h>
#include <shellapi.h>

#include "terminal/Console.h"
#include "win32/SystemText.h"

namespace veltra::terminal {

int TerminalColumns() {
    // A console answers GetConsoleScreenBufferInfo; a pipe, a file or NUL does not.
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) return 0;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    // The controls that move the cursor over the live lines of several ports.
    // A console older than Windows 10 refuses the mode and shows them as text.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode) != 0) ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
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
