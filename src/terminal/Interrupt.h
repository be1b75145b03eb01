#pragma once
// Ctrl-C (SIGINT) and SIGTERM, on Windows Ctrl-C, Ctrl-Break and closing the
// console, as a request to stop: the first one is noted and the program
// stops where it may; a second one ends the program at once, the system's
// way. One side per platform.
#include <chrono>

namespace veltra::terminal {

// From now on the first interrupt is only noted. Called once, before any
// thread of the run starts; every thread then sees the same interrupt, and a
// pause on any of them ends with it.
void CatchInterrupts();

// Whether an interrupt came since CatchInterrupts.
bool Interrupted();

// Sleeps for `pause`, or less when an interrupt comes meanwhile; true when
// one has come.
bool PauseUnlessInterrupted(std::chrono::milliseconds pause);

}  // namespace veltra::terminal
