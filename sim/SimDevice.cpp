#include "sim/SimDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <optional>
#include <system_error>
#include <utility>

#include "sim/LineSpeed.h"
#include "sim/ReplySender.h"

namespace veltra::sim {
namespace {

using Clock = std::chrono::steady_clock;

// How long a device that does not hold its own line rests while nobody has
// the line open, before it looks again.
constexpr int kIdleLineRestMs = 20;

Clock::duration ByteTime(const DeviceOptions& options, int line) {
    return std::chrono::duration_cast<Clock::duration>(PacedByteTime(options, line));
}

// Bytes the program wrote that are still on their way over the line.
struct InFlight {
    Clock::time_point arrives;
    ByteString bytes;
};

timespec Until(Clock::time_point deadline, Clock::time_point now) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(deadline - now, Clock::duration::zero()));
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    return ts;
}

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a, std::optional<Clock::time_point> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

}  // namespace

std::chrono::nanoseconds PacedByteTime(const DeviceOptions& options, int line) {
    if (!options.paceLine) return std::chrono::nanoseconds::zero();
    return ByteTimeAt(options.baud > 0 ? options.baud : LineBaud(line));
}

SimDevice::SimDevice(std::shared_ptr<Personality> personality, DeviceOptions options)
    : personality_(std::move(personality)), options_(options), pty_(std::make_unique<PtyPair>()) {
    line_ = pty_->MasterFd();
    path_ = pty_->SlavePath();
    if (!options_.holdLine) pty_->ReleaseSlave();
    Start();
}

SimDevice::SimDevice(std::shared_ptr<Personality> personality, int line, std::string path, DeviceOptions options)
    : personality_(std::move(personality)), options_(options), line_(line), path_(std::move(path)) {
    // Whoever made the line is there for as long as it exists: no idle rests.
    options_.holdLine = true;
    try {
        Start();
    } catch (...) {
        ::close(line_);
        throw;
    }
}

void SimDevice::Start() {
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    const int flags = ::fcntl(line_, F_GETFL);
    ::fcntl(line_, F_SETFL, flags | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

SimDevice::~SimDevice() {
    Stop();
    ::close(stopFd_);
    if (!pty_) ::close(line_);
}

const std::string& SimDevice::Path() const { return path_; }

ByteString SimDevice::Received() const {
    std::lock_guard lock(recordMutex_);
    return received_;
}

bool SimDevice::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(recordMutex_);
    recordChanged_.wait_for(lock, timeout, [&] { return received_.size() >= count || stopped_; });
    return received_.size() >= count;
}

void SimDevice::Stop() {
    std::lock_guard lock(stopMutex_);
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
}

void SimDevice::Record(const ByteString& bytes) {
    {
        std::lock_guard lock(recordMutex_);
        received_ += bytes;
    }
    recordChanged_.notify_all();
}

void SimDevice::MarkStopped() {
    {
        std::lock_guard lock(recordMutex_);
        stopped_ = true;
    }
    recordChanged_.notify_all();
}

bool SimDevice::RestWhileLineIdle() {
    // Nobody has the line open: the master reports the hang-up at once and
    // goes on reporting it, so rest a little before looking again.
    pollfd stop{stopFd_, POLLIN, 0};
    return ::poll(&stop, 1, kIdleLineRestMs) > 0;
}

void SimDevice::Run() {
    // A device keeps the line's time to the microsecond; the kernel's default
    // slack lets each timed wait of this thread end up to 50 us late.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const int line = line_;
    const bool followProgram = options_.paceLine && options_.baud <= 0;
    Clock::duration byteTime = ByteTime(options_, line);
    ReplySender sender(byteTime);
    std::deque<InFlight> inFlight;
    Clock::time_point receiveLineFree{};

    for (;;) {
        Clock::time_point now = Clock::now();
        while (!inFlight.empty() && inFlight.front().arrives <= now) {
            const ByteString bytes = std::move(inFlight.front().bytes);
            // The answer is timed from the moment the bytes were through,
            // not from this thread's late wake-up: a device answers in the
            // line's time, not in the machine's.
            const Clock::time_point arrived = inFlight.front().arrives;
            inFlight.pop_front();
            const Reply reply = personality_->OnBytes(bytes);
            Record(bytes);  // after the personality, so that a waiter finds its state up to date
            sender.Queue(reply, arrived);
        }
        if (sender.Pump(line, now) == ReplySender::Result::LineGone) break;

        const auto deadline = Earliest(inFlight.empty() ? std::nullopt : std::optional(inFlight.front().arrives), sender.NextDue());
        pollfd fds[2] = {
            {line, static_cast<short>(POLLIN | (sender.WaitingForRoom() ? POLLOUT : 0)), 0},
            {stopFd_, POLLIN, 0},
        };
        timespec wait{};
        if (deadline) wait = Until(*deadline, Clock::now());
        if (::ppoll(fds, 2, deadline ? &wait : nullptr, nullptr) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if (fds[0].revents & POLLOUT) sender.RoomAvailable();
        if (fds[0].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(line, buffer, sizeof buffer);
            if (n < 0 && errno == EIO && !options_.holdLine) {
                if (RestWhileLineIdle()) break;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // EIO: nobody holds the slave
            if (n == 0) break;
            if (n > 0) {
                now = Clock::now();
                // The program may have changed the speed since the last bytes:
                // these and the answers to them go at the speed set now.
                if (followProgram) {
                    byteTime = ByteTime(options_, line);
                    sender.SetByteTime(byteTime);
                }
                const auto count = static_cast<std::size_t>(n);
                // Over a paced line the last of these bytes arrives only after all
                // of them have crossed it, behind whatever was still crossing.
                receiveLineFree = std::max(receiveLineFree, now) + byteTime * static_cast<Clock::rep>(count);
                inFlight.push_back({receiveLineFree, ByteString(buffer, count)});
            }
        } else if ((fds[0].revents & POLLHUP) && !options_.holdLine) {
            if (RestWhileLineIdle()) break;
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            break;
        }
    }
    MarkStopped();
}

}  // namespace veltra::sim
