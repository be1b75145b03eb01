#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "terminal/Interrupt.h"

namespace veltra::terminal {
namespace {

// Set by the handler, read by every port's thread of a run on several ports.
std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler sets it");
// The handler's byte wakes a pause that is waiting on the other end.
int wakePipe[2] = {-1, -1};

void OnInterrupt(int) {
    const int savedErrno = errno;
    interrupted.store(1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

void CatchInterrupts() {
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The handler is taken away after the first signal: the second one ends
    // the program. No SA_RESTART: a pause in poll() is cut short.
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

bool Interrupted() { return interrupted.load() != 0; }

bool PauseUnlessInterrupted(std::chrono::milliseconds pause) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + pause;
    while (!Interrupted()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd wake{wakePipe[0], POLLIN, 0};
        // Without a pipe (CatchInterrupts not called, or failed) poll sleeps on nothing.
        if (::poll(&wake, wakePipe[0] < 0 ? 0 : 1, static_cast<int>(left)) > 0) break;
    }
    return Interrupted();
}

}  // namespace veltra::terminal
