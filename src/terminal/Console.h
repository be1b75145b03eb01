#pragma once
// What veltra-load needs of the console it runs in, one side per platform.
#include <string>
#include <vector>

namespace veltra::terminal {

// The width of the terminal standard output is (a console window on
// Windows), where a progress line can be redrawn in place: 80 when it cannot
// be told. 0 for a pipe or a file.
int TerminalColumns();

// Readies the console for the program's UTF-8 texts and for the controls
// that redraw lines in place: on Windows its output code page and its
// terminal mode; nothing elsewhere.
void PrepareConsole();

// The program's arguments, without its own name, in UTF-8: on Windows read
// again from the system in UTF-16, since argv holds them in the ANSI code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace veltra::terminal
