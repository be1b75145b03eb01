#include "serial/DescriptorPosix.h"
#include "serial/PortGuardsPosix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace veltra::platform::posix {
namespace {

using veltra::posix::Descriptor;

// How often a take starts over when the lock file changes under it: another
// tool removing a stale lock or taking the port at the same moment.
constexpr int kTakeAttempts = 5;

// Longer than any lock a terminal program writes (the pid, maybe its name and
// user after it); what lies beyond is not looked at.
constexpr std::size_t kLockReadLimit = 128;

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

int OpenRetrying(const char* path, int flags, mode_t mode = 0) noexcept {
    int fd = -1;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens a lock file to look at it. Non-blocking, so that a named pipe left at
// its name cannot hold the open up.
int OpenLockForReading(const std::string& lockFile) noexcept {
    return OpenRetrying(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Up to `size` bytes; what arrived before an error or the end counts.
std::size_t ReadUpTo(int fd, char* buffer, std::size_t size) noexcept {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return got;
}

bool WriteAll(int fd, const char* data, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// A /proc entry that names a process or a descriptor: decimal digits only.
std::optional<int> NumericName(std::string_view name) noexcept {
    if (name.empty() || name.front() < '0' || name.front() > '9') return std::nullopt;
    int value = 0;
    const char* end = name.data() + name.size();
    const auto [ptr, ec] = std::from_chars(name.data(), end, value);
    if (ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

// The pid a lock file names. The HDB text form: blanks, decimal digits, then a
// newline; some terminal programs put their name and user after the pid, so
// whatever follows a blank is left alone. The old binary form is a native int
// of exactly four bytes; a pid never fills all four, so it always has a NUL
// byte, which no text lock has.
std::optional<int> ParseLockPid(std::string_view content) noexcept {
    int pid = 0;
    if (content.find('\0') == std::string_view::npos) {
        std::string_view digits = content;
        while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
        if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
        const char* end = digits.data() + digits.size();
        const auto [ptr, ec] = std::from_chars(digits.data(), end, pid);
        if (ec != std::errc{}) return std::nullopt;
        if (ptr != end && *ptr != '\n' && *ptr != ' ' && *ptr != '\t') return std::nullopt;
    } else if (content.size() == sizeof pid) {
        std::memcpy(&pid, content.data(), sizeof pid);
    }
    // 0 and negative numbers would make kill() signal whole process groups.
    if (pid <= 0) return std::nullopt;
    return pid;
}

std::optional<int> ReadLockPid(int fd) noexcept {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    char content[kLockReadLimit];
    return ParseLockPid(std::string_view(content, ReadUpTo(fd, content, sizeof content)));
}

// Whether the name still leads to the file that was opened: a stale lock is
// removed only when no other tool has replaced it since it was read.
bool StillSameFile(int fd, const std::string& path) noexcept {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// Only a process that is gone makes a lock stale; one of another user answers
// EPERM and is alive.
bool Alive(int pid) noexcept { return ::kill(pid, 0) == 0 || errno != ESRCH; }

// "" when the process has ended meanwhile or cannot be named.
std::string ReadComm(const std::string& procDir, int pid) noexcept {
    try {
        const std::string path = procDir + "/" + std::to_string(pid) + "/comm";
        const Descriptor fd(OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid()) return {};
        char name[64];
        std::string program(name, ReadUpTo(fd.Get(), name, sizeof name));
        if (!program.empty() && program.back() == '\n') program.pop_back();
        return program;
    } catch (...) {
        return {};
    }
}

enum class Creation { Made, Exists, Failed };

// The lock appears under its name only whole: it is written under a private
// name first and then linked to the lock's name, which fails when that is
// taken, as an O_EXCL create would. Created directly under its name it would
// be empty for a moment, and a racing taker would read it as stale and remove
// it.
Creation CreateLock(const std::string& lockFile, int self) {
    const std::size_t slash = lockFile.rfind('/');  // npos + 1 is 0: no folder part
    const std::string privateName =
        lockFile.substr(0, slash + 1) + "." + lockFile.substr(slash + 1) + "." + std::to_string(self);
    ::unlink(privateName.c_str());  // left by an earlier process with our pid
    Creation result = Creation::Failed;
    {
        const Descriptor fd(
            OpenRetrying(privateName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!fd.Valid()) return Creation::Failed;
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%10d\n", self);
        ::fchmod(fd.Get(), 0644);  // whatever the umask took away: other tools must read the pid
        if (length > 0 && WriteAll(fd.Get(), text, static_cast<std::size_t>(length))) {
            if (::link(privateName.c_str(), lockFile.c_str()) == 0) {
                result = Creation::Made;
            } else if (errno == EEXIST) {
                result = Creation::Exists;
            }
        }
    }
    ::unlink(privateName.c_str());
    return result;
}

LockResult TakeLockOrThrow(const std::string& lockFile, PortHolder& holder, const std::string& procDir) {
    if (lockFile.empty()) return LockResult::NoLockDir;
    const int self = ::getpid();
    for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
        const Creation creation = CreateLock(lockFile, self);
        if (creation == Creation::Made) return LockResult::Taken;
        if (creation == Creation::Failed) return LockResult::NoLockDir;

        const Descriptor fd(OpenLockForReading(lockFile));
        if (!fd.Valid()) {
            if (errno == ENOENT) continue;  // released meanwhile
            return LockResult::HeldByOther;  // somebody's lock we may not read: not to be overridden
        }
        const std::optional<int> pid = ReadLockPid(fd.Get());
        if (pid == self) return LockResult::Taken;
        if (pid && Alive(*pid)) {
            holder = PortHolder{*pid, ReadComm(procDir, *pid)};
            return LockResult::HeldByOther;
        }
        if (!StillSameFile(fd.Get(), lockFile)) continue;
        // A dead lock that may not be removed (another user's, in a sticky
        // folder) blocks nobody who honours process liveness either.
        if (::unlink(lockFile.c_str()) != 0 && errno != ENOENT) return LockResult::NoLockDir;
    }
    return LockResult::HeldByOther;  // it kept changing: somebody else is after the port right now
}

// Pseudo-terminal slaves (majors 136 to 143) are numbered per devpts mount: in
// another mount namespace or container, /dev/pts/0 is another terminal with
// the same device number, told apart by the file system it lives in. Any other
// device number names one device of the whole machine, whatever node leads
// to it.
bool SameDevice(const struct stat& a, const struct stat& b) noexcept {
    if (!S_ISCHR(a.st_mode) || a.st_rdev != b.st_rdev) return false;
    const unsigned int major = ::major(a.st_rdev);
    const bool ptySlave = major >= 136 && major <= 143;
    return !ptySlave || a.st_dev == b.st_dev;
}

bool HasDeviceOpen(int procFd, const char* pidName, const struct stat& device) noexcept {
    char path[64];
    if (std::snprintf(path, sizeof path, "%s/fd", pidName) >= static_cast<int>(sizeof path)) return false;
    // Fails for a process that has ended, or that this user may not look into.
    const int fd = ::openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const Dir fds(::fdopendir(fd));
    if (!fds) {
        ::close(fd);
        return false;
    }
    while (const dirent* entry = ::readdir(fds.get())) {
        if (!NumericName(entry->d_name)) continue;
        struct stat st {};
        // Follows the descriptor's link to what it has open.
        if (::fstatat(::dirfd(fds.get()), entry->d_name, &st, 0) == 0 && SameDevice(st, device)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string LockFilePath(const std::string& lockDir, const std::string& devicePath) noexcept {
    try {
        constexpr std::string_view kDev = "/dev/";
        std::string name;
        if (std::string_view(devicePath).substr(0, kDev.size()) == kDev) {
            name = devicePath.substr(kDev.size());
            std::replace(name.begin(), name.end(), '/', '_');
        } else {
            name = devicePath.substr(devicePath.rfind('/') + 1);  // npos + 1 is 0: the whole path
        }
        return lockDir + "/LCK.." + name;
    } catch (...) {
        return {};  // no lock file: TakeLock then goes on without one
    }
}

LockResult TakeLock(const std::string& lockFile, PortHolder& holder, const std::string& procDir) noexcept {
    holder = PortHolder{};
    try {
        return TakeLockOrThrow(lockFile, holder, procDir);
    } catch (...) {
        return LockResult::HeldByOther;  // out of memory: not the moment to override a lock
    }
}

void ReleaseLock(const std::string& lockFile) noexcept {
    const Descriptor fd(OpenLockForReading(lockFile));
    if (!fd.Valid()) return;
    if (ReadLockPid(fd.Get()) == ::getpid() && StillSameFile(fd.Get(), lockFile)) ::unlink(lockFile.c_str());
}

std::optional<PortHolder> FindOtherOpener(const std::string& devicePath,
                                          const std::string& procDir) noexcept {
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return std::nullopt;
    const Dir proc(::opendir(procDir.c_str()));
    if (!proc) return std::nullopt;
    const int self = ::getpid();
    while (const dirent* entry = ::readdir(proc.get())) {
        const std::optional<int> pid = NumericName(entry->d_name);
        if (!pid || *pid == self) continue;
        if (HasDeviceOpen(::dirfd(proc.get()), entry->d_name, device)) {
            return PortHolder{*pid, ReadComm(procDir, *pid)};
        }
    }
    return std::nullopt;
}

}  // namespace veltra::platform::posix
