#pragma once
// What veltra-load needs of the console it runs in, one side per platform.
#include <string>
#include <vector>

namespace veltra::terminal {

// Whether standard output is a terminal (a console window on Windows), where
// a progress line can be redrawn in place; false for a pipe or a file.
bool StdoutIsTerminal();

// Readies the console for the program's UTF-8 texts: on Windows its output
// code page; nothing elsewhere.
void PrepareConsole();

// The program's arguments, without its own name, in UTF-8: on Windows read
// again from the system in UTF-16, since argv holds them in the ANSI code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace veltra::terminal
