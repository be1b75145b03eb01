#include <windows.h>

#include <atomic>

#include "terminal/Interrupt.h"

namespace veltra::terminal {
namespace {

std::atomic<bool> interrupted{false};
HANDLE wakeEvent = nullptr;  // set by the first interrupt, for a pause waiting on it

// Runs on a thread that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            // The second one goes on to the system's handler, which ends the program.
            if (interrupted.exchange(true)) return FALSE;
            if (wakeEvent != nullptr) ::SetEvent(wakeEvent);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void CatchInterrupts() {
    if (wakeEvent == nullptr) wakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() { return interrupted.load(); }

bool PauseUnlessInterrupted(std::chrono::milliseconds pause) {
    if (Interrupted()) return true;
    const auto ms = static_cast<DWORD>(pause.count() < 0 ? 0 : pause.count());
    if (wakeEvent != nullptr) {
        ::WaitForSingleObject(wakeEvent, ms);
    } else {
        ::Sleep(ms);
    }
    return Interrupted();
}

}  // namespace veltra::terminal
