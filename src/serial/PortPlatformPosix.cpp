// The port calls on POSIX (Linux) terminals. Each call of the seam and what it
// is made of here; the code in the setup boxes is the errno of the failure:
//   CreateFileA       before the open: the device must be a character
//                     device and not the system console, its UUCP lock file
//                     (/run/lock/LCK..name) must be free or stale (then it is
//                     ours), and no other process may have it open
//                     (/proc/<pid>/fd). Then
//                     open(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK), a
//                     terminal check (tcgetattr; EIO there is a serial slot
//                     with no UART behind it), flock(LOCK_EX | LOCK_NB), the
//                     terminal's exclusive mode (TIOCEXCL) and the driver's
//                     low latency (TIOCSSERIAL), where it has it. Any failure
//                     gives the invalid handle, with OpenProblem() saying why
//                     in plain words: the "not available" warning box, no code.
//   SetCommTimeouts   tcgetattr proves the device is a terminal (a plain file
//                     or /dev/null fails here with ENOTTY); the timeouts are
//                     kept with the handle, since the system keeps none.
//   BuildCommDCBA     our own reading of the settings text; EINVAL when it is
//                     malformed or names something unsupported.
//   SetCommState      tcsetattr of raw mode with those settings, then DTR and
//                     RTS raised (TIOCMBIS).
//   ReadFile          ppoll() and read() against the interval and total
//                     deadlines on the monotonic clock; with the timeouts
//                     that ask for the first byte only, the read ends as
//                     soon as anything has arrived.
//   WriteFile         write() until everything is out, ppoll(POLLOUT) while the
//                     queue is full, bounded by the write deadline.
//   FlushFileBuffers  tcdrain.
//   PurgeComm         tcflush(TCIFLUSH), when FIONREAD finds anything unread.
//   CloseHandle       the driver's earlier latency flags, TIOCNXCL,
//                     flock(LOCK_UN), close, and the lock file removed.
//   GetLastError      the errno kept by the last failing call of this file.
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <mutex>
#include <optional>
#include <vector>

#include "serial/LineSettingsPosix.h"
#include "serial/PortGuardsPosix.h"
#include "serial/PortPlatform.h"

namespace veltra::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

thread_local std::uint32_t lastError = 0;

bool Fail(int code) noexcept {
    lastError = static_cast<std::uint32_t>(code);
    return false;
}

int Fd(const PortHandle& port) noexcept { return static_cast<int>(port.Native()); }

Deadline After(Clock::time_point start, std::uint64_t ms) noexcept {
    if (ms == 0) return std::nullopt;  // a zero timeout is "not used"
    return start + std::chrono::milliseconds(ms);
}

Deadline Earlier(Deadline a, Deadline b) noexcept {
    if (!a) return b;
    if (!b) return a;
    return *a < *b ? a : b;
}

bool Passed(Deadline deadline) noexcept { return deadline && Clock::now() >= *deadline; }

// Waits for `events` on fd until the deadline, to the nanosecond: a timeout
// in whole milliseconds would either wake early and spin on zero-length polls
// or wake up to a millisecond late at the end of every read.
int PollUntil(int fd, short events, Deadline deadline, short& revents) noexcept {
    pollfd p{fd, events, 0};
    timespec wait{};
    if (deadline) {
        const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        wait.tv_sec = static_cast<time_t>(seconds.count());
        wait.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count());
    }
    const int ready = ::ppoll(&p, 1, deadline ? &wait : nullptr, nullptr);
    revents = p.revents;
    return ready;
}

// The kernel may let a timed wait of this thread run up to 50 us late, to
// save wake-ups; a read ends 20 ms after the last byte many times a second
// during a download, and every microsecond late is one the line stands idle.
// Set once per reading thread.
void WakeOnTime() noexcept {
    thread_local const bool onTime = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)onTime;
}

thread_local std::string openProblem;

// What each open port changed outside its descriptor, by descriptor, so that
// its close can undo it: the lock file it holds, and the driver's serial
// flags from before the open where low latency was switched on.
struct OpenRecord {
    std::string lockFile;
    std::optional<int> earlierSerialFlags;
};
std::mutex recordsMutex;
std::map<int, OpenRecord> recordsByFd;

PortHandle FailOpen(int code, std::string problem) {
    Fail(code);
    openProblem = std::move(problem);
    return PortHandle{};
}

std::string InUseBy(const posix::PortHolder& holder) {
    if (holder.pid == 0) return "In use by another program.";
    const std::string program = holder.program.empty() ? "another program" : holder.program;
    return "In use by " + program + " (pid " + std::to_string(holder.pid) + ").";
}

// Whose group the device belongs to: on Linux that group (dialout, uucp) is
// how a user gets the serial ports.
std::string PermissionProblem(const std::string& deviceName) {
    const std::string denied = "Permission denied: this user may not use " + deviceName + ".";
    struct stat st {};
    if (::stat(deviceName.c_str(), &st) != 0 || st.st_gid == 0) return denied;
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return denied;
    const std::string name = found->gr_name;
    return denied + " Add the user to the group " + name + " (sudo usermod -aG " + name +
           " $USER), then log in again.";
}

std::string OpenFailure(int code, const std::string& deviceName) {
    switch (code) {
        case ENOENT:
        case ENXIO:
        case ENODEV: return "No such device: " + deviceName + " is not there (is the adapter plugged in?).";
        case EACCES:
        case EPERM: return PermissionProblem(deviceName);
        case EBUSY: return "In use by another program.";
        case ENOTTY: return deviceName + " is not a serial device.";
        // The 8250 driver keeps a slot for each port a PC may have; opening a
        // slot with no UART works, but every terminal call fails with EIO.
        case EIO: return "No such device: there is no serial port hardware behind " + deviceName + ".";
        default: return deviceName + ": " + std::strerror(code) + ".";
    }
}

// The terminal is ours alone while this descriptor holds it.
PortHandle TakeExclusive(int fd, const std::string& deviceName) {
    // A flock belongs to the open file description, so it refuses a second
    // open from this process as well as from another.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        return FailOpen(code, OpenFailure(code, deviceName));
    }
    // The terminal's exclusive mode refuses further opens only to
    // unprivileged processes; a privileged one is let through by the kernel,
    // so a mode already set by somebody else counts as "in use" here.
    int already = 0;
    if (ioctl(fd, TIOCGEXCL, &already) == 0 && already != 0) return FailOpen(EBUSY, OpenFailure(EBUSY, deviceName));
    if (ioctl(fd, TIOCEXCL) != 0) return FailOpen(errno, OpenFailure(errno, deviceName));
    return PortHandle{fd};
}

// Whether the kernel writes its console messages to this terminal: they
// would land in the transfer, and the device's replies in the console.
bool IsSystemConsole(const std::string& deviceName, const std::string& consoleList) {
    std::ifstream list(consoleList);
    if (!list) return false;
    char resolved[PATH_MAX];
    if (::realpath(deviceName.c_str(), resolved) == nullptr) return false;
    std::string path = resolved;
    if (path.rfind("/dev/", 0) != 0) return false;
    path.erase(0, 5);  // the kernel's name: "ttyS0", "pts/3"
    std::string name;
    while (list >> name) {
        if (name == path) return true;
    }
    return false;
}

// Asks the driver to hand over received bytes at once rather than when its
// timer runs out (an FTDI adapter holds them up to 16 ms by default, which
// every block's reply would wait out). Drivers without the setting, a pty
// among them, refuse: that is no fault. The earlier flags, when changed.
// The flag as the int that serial_struct::flags is.
constexpr int kLowLatency = static_cast<int>(ASYNC_LOW_LATENCY);

std::optional<int> AskLowLatency(int fd) noexcept {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
    if ((serial.flags & kLowLatency) != 0) return std::nullopt;
    const int earlier = serial.flags;
    serial.flags |= kLowLatency;
    if (ioctl(fd, TIOCSSERIAL, &serial) != 0) return std::nullopt;
    return earlier;
}

void RestoreLatency(int fd, int earlierFlags) noexcept {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;  // a device that has gone keeps nothing
    serial.flags = (serial.flags & ~kLowLatency) | (earlierFlags & kLowLatency);
    ioctl(fd, TIOCSSERIAL, &serial);
}

PortHandle Open(const std::string& deviceName, const OpenGuards& guards) {
    if (deviceName.empty()) return FailOpen(ENOENT, "There is no such port on this machine.");
    struct stat st {};
    if (::stat(deviceName.c_str(), &st) != 0) return FailOpen(errno, OpenFailure(errno, deviceName));
    if (!S_ISCHR(st.st_mode)) return FailOpen(ENOTTY, OpenFailure(ENOTTY, deviceName));
    // Refused before the open, so that not even the modem lines change.
    if (IsSystemConsole(deviceName, guards.consoleList)) {
        return FailOpen(EBUSY, deviceName + " is the system console: the kernel writes its messages there, "
                                            "so it carries no transfer.");
    }

    // The lock file is looked at before the open: opening a terminal that
    // nobody has open raises its modem lines, which may disturb the device of
    // the program that locked it. A lock this process holds already (another
    // handle to the same device) is left to that handle.
    const std::string lockFile = posix::LockFilePath(guards.lockDir, deviceName);
    bool heldHere = false;
    {
        std::lock_guard locked(recordsMutex);
        for (const auto& held : recordsByFd) heldHere = heldHere || held.second.lockFile == lockFile;
    }
    posix::PortHolder holder;
    const posix::LockResult lock = heldHere ? posix::LockResult::NoLockDir : posix::TakeLock(lockFile, holder, guards.procDir);
    if (lock == posix::LockResult::HeldByOther) {
        return FailOpen(EBUSY, InUseBy(holder) + " It holds the lock file " + lockFile + ".");
    }
    struct LockGuard {  // gives the lock back on every way out but success
        const std::string* file;
        ~LockGuard() {
            if (file != nullptr) posix::ReleaseLock(*file);
        }
    } lockGuard{lock == posix::LockResult::Taken ? &lockFile : nullptr};

    // Non-blocking: the open does not wait for a carrier, and every later wait
    // is a poll() with a deadline.
    int fd = -1;
    do {
        fd = ::open(deviceName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return FailOpen(errno, OpenFailure(errno, deviceName));
    if (termios tio{}; tcgetattr(fd, &tio) != 0) {
        const int code = errno == EIO ? EIO : ENOTTY;
        ::close(fd);
        return FailOpen(code, OpenFailure(code, deviceName));
    }
    // A program that has the terminal open without any lock (a terminal
    // program, cat) would take the device's replies from under the transfer.
    // While it has the terminal open, this open changes nothing on the line.
    if (const auto other = posix::FindOtherOpener(deviceName, guards.procDir)) {
        ::close(fd);
        return FailOpen(EBUSY, InUseBy(*other));
    }
    PortHandle port = TakeExclusive(fd, deviceName);
    if (!port.Valid()) {
        ::close(fd);  // nothing of ours to undo: the flock goes with the descriptor
        return port;
    }
    OpenRecord record;
    if (lockGuard.file != nullptr) record.lockFile = lockFile;
    record.earlierSerialFlags = AskLowLatency(fd);
    {
        std::lock_guard locked(recordsMutex);
        recordsByFd[fd] = std::move(record);
        lockGuard.file = nullptr;
    }
    return port;
}

// A pseudo-terminal and some adapters have no modem lines: their refusal is
// not a fault of the port, and there is no handshake for the lines to hold up.
bool NoModemLines(int code) noexcept {
    return code == ENOTTY || code == EINVAL || code == ENOTSUP || code == EOPNOTSUPP;
}

}  // namespace

PortHandle CreateFileA(const std::string& deviceName, const OpenGuards& guards) noexcept {
    try {
        openProblem.clear();
        return Open(deviceName, guards);
    } catch (...) {
        return FailOpen(ENOMEM, "Out of memory.");
    }
}

std::string OpenProblem() { return openProblem; }

bool SetCommTimeouts(PortHandle& port, const CommTimeouts& timeouts) noexcept {
    if (!port.Valid()) return Fail(EBADF);
    termios tio{};
    if (tcgetattr(Fd(port), &tio) != 0) return Fail(errno);
    port.SetTimeouts(timeouts);
    return true;
}

bool BuildCommDCBA(const std::string& settings, Dcb& dcb) noexcept {
    if (!posix::ParseSettingsText(settings, dcb)) return Fail(EINVAL);
    return true;
}

bool SetCommState(PortHandle& port, const Dcb& dcb) noexcept {
    if (!port.Valid()) return Fail(EBADF);
    const int fd = Fd(port);
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return Fail(errno);
    if (!posix::ApplyDcb(dcb, tio)) return Fail(EINVAL);
    int rc = -1;
    do {
        rc = tcsetattr(fd, TCSANOW, &tio);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return Fail(errno);
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && !NoModemLines(errno)) return Fail(errno);
    return true;
}

bool ReadFile(PortHandle& port, std::uint8_t* buffer, std::size_t toRead, std::size_t& bytesRead) noexcept {
    bytesRead = 0;
    if (!port.Valid()) return Fail(EBADF);
    WakeOnTime();
    const int fd = Fd(port);
    const CommTimeouts& t = port.Timeouts();
    const bool firstBytesOnly = t.ReadIntervalTimeout == kMaxTimeout && t.ReadTotalTimeoutMultiplier == kMaxTimeout &&
                                t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < kMaxTimeout;
    const Deadline total =
        firstBytesOnly ? After(Clock::now(), t.ReadTotalTimeoutConstant)
                       : After(Clock::now(), std::uint64_t{t.ReadTotalTimeoutMultiplier} * toRead +
                                                 t.ReadTotalTimeoutConstant);
    Deadline gap;  // starts with the first byte
    while (bytesRead < toRead && !(firstBytesOnly && bytesRead > 0)) {
        const Deadline deadline = Earlier(total, gap);
        if (Passed(deadline)) break;
        // Recomputed on every pass, so an EINTR or an early wake-up waits
        // only for what is left.
        short revents = 0;
        const int ready = PollUntil(fd, POLLIN, deadline, revents);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (ready == 0) continue;
        if ((revents & POLLIN) == 0) return Fail(EIO);  // hung up, error or closed
        const ssize_t n = ::read(fd, buffer + bytesRead, toRead - bytesRead);
        if (n > 0) {
            bytesRead += static_cast<std::size_t>(n);
            gap = After(Clock::now(), t.ReadIntervalTimeout);
            continue;
        }
        if (n == 0) return Fail(EIO);  // end of file: the other end has gone
        if (errno == EAGAIN || errno == EINTR) continue;
        return Fail(errno);
    }
    return true;
}

bool WriteFile(PortHandle& port, const std::uint8_t* buffer, std::size_t toWrite,
               std::size_t& bytesWritten) noexcept {
    bytesWritten = 0;
    if (!port.Valid()) return Fail(EBADF);
    if (toWrite == 0) return true;
    const int fd = Fd(port);
    const CommTimeouts& t = port.Timeouts();
    const Deadline deadline = After(Clock::now(), std::uint64_t{t.WriteTotalTimeoutMultiplier} * toWrite +
                                                      t.WriteTotalTimeoutConstant);
    while (bytesWritten < toWrite) {
        const ssize_t n = ::write(fd, buffer + bytesWritten, toWrite - bytesWritten);
        if (n > 0) {
            bytesWritten += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return Fail(EIO);
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return Fail(errno);
        // The output queue is full: wait for room, not past the deadline.
        if (Passed(deadline)) return Fail(ETIMEDOUT);
        short revents = 0;
        const int ready = PollUntil(fd, POLLOUT, deadline, revents);
        if (ready < 0 && errno != EINTR) return Fail(errno);
        if (ready > 0 && (revents & POLLOUT) == 0) return Fail(EIO);
    }
    return true;
}

bool FlushFileBuffers(PortHandle& port) noexcept {
    if (!port.Valid()) return Fail(EBADF);
    int rc = -1;
    do {
        rc = tcdrain(Fd(port));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? true : Fail(errno);
}

bool PurgeComm(PortHandle& port) noexcept {
    if (!port.Valid()) return Fail(EBADF);
    // Most purges find nothing to drop, and asking is cheaper than tcflush,
    // which goes through the terminal's buffers on every call: one purge goes
    // before every frame of a ROM bootloader run.
    int waiting = 0;
    if (ioctl(Fd(port), FIONREAD, &waiting) == 0 && waiting == 0) return true;
    return tcflush(Fd(port), TCIFLUSH) == 0 ? true : Fail(errno);
}

int CloseHandle(PortHandle& port) noexcept {
    if (!port.Valid()) {
        Fail(EBADF);
        return 0;
    }
    const int fd = static_cast<int>(port.Release());
    OpenRecord record;
    {
        std::lock_guard locked(recordsMutex);
        if (const auto found = recordsByFd.find(fd); found != recordsByFd.end()) {
            record = std::move(found->second);
            recordsByFd.erase(found);
        }
    }
    // These fail harmlessly on a hung-up line.
    if (record.earlierSerialFlags) RestoreLatency(fd, *record.earlierSerialFlags);
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    if (!record.lockFile.empty()) posix::ReleaseLock(record.lockFile);
    // Not retried on EINTR: on Linux the descriptor is gone either way, and a
    // second close could hit a descriptor that another file has taken since.
    if (::close(fd) != 0) {
        Fail(errno);
        return 0;
    }
    return 1;
}

std::uint32_t GetLastError() noexcept { return lastError; }

// A terminal whose device has gone is hung up: read() gives 0 and poll()
// POLLHUP or POLLERR (both kept here as EIO), write() and ioctl() EIO. A USB
// adapter on its way out may give ENXIO or ENODEV first; EBADF is a
// descriptor that no longer stands for the port.
bool IsPortLost(std::uint32_t code) noexcept {
    switch (code) {
        case EIO:
        case ENXIO:
        case ENODEV:
        case EBADF: return true;
        default: return false;
    }
}

}  // namespace veltra::platform
