#pragma once
// The exit codes of veltra-load, and what a download's closing status line
// means among them.
#include <string>

namespace veltra::terminal {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailed = 1,        // the transfer was refused or failed
    kExitNoConnection = 2,  // nobody answered the wake-up
    kExitFileProblem = 3,
    kExitPortProblem = 4,   // the port cannot be opened, no longer takes bytes, or has gone
    kExitUsage = 64,
};

// The code for the last status line a download left. A text that is none of
// the download's closing texts counts as a failure.
ExitCode ExitCodeOfStatus(const std::string& status);

}  // namespace veltra::terminal
