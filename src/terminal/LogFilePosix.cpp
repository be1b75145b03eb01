// The log file on POSIX: open(O_APPEND | O_CREAT) with mode 0666 less the
// umask; one write() a line, which O_APPEND puts at the end of the file as it
// is then, also when another program appends to the same file; fsync. The
// last byte of a regular file is read with fstat and pread; the append lock
// is flock() on the file, which holds between any two opens of it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "terminal/LogFile.h"

namespace veltra::terminal::platform {
namespace {

bool Fail(std::string& reason) {
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

// The file opened once more, for reading too, in place of `fd` when it is a
// regular file that this user may read: only so can its last byte be looked
// at. It is opened for writing alone first because a pipe or a terminal
// (--log /dev/stdout) must get no reader in this program: a pipe whose reader
// has gone would fill up and block instead of failing. A file that may not be
// read, or that was replaced in between, is appended to unchecked.
int WithReadingIfRegular(int fd, const std::string& path) {
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) return fd;
    const int both = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY);
    if (both < 0) return fd;
    struct stat again {};
    if (::fstat(both, &again) != 0 || again.st_dev != opened.st_dev || again.st_ino != opened.st_ino) {
        ::close(both);
        return fd;
    }
    ::close(fd);
    return both;
}

}  // namespace

std::intptr_t OpenForAppending(const std::string& path, std::string& reason) {
    // Past a file-size limit the system would end the program with SIGXFSZ in
    // the middle of a run; ignored, the write fails with EFBIG and is told.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);

    errno = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        Fail(reason);
        return -1;
    }
    return WithReadingIfRegular(fd, path);
}

bool LockAppends(std::intptr_t native) {
    for (;;) {
        if (::flock(static_cast<int>(native), LOCK_EX) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void UnlockAppends(std::intptr_t native) { ::flock(static_cast<int>(native), LOCK_UN); }

bool EndsMidLine(std::intptr_t native) {
    const int fd = static_cast<int>(native);
    struct stat file {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_size == 0) return false;
    char last = '\n';
    return ::pread(fd, &last, 1, file.st_size - 1) == 1 && last != '\n';
}

bool AppendWhole(std::intptr_t native, const std::string& line, std::string& reason) {
    const int fd = static_cast<int>(native);
    const char* data = line.data();
    std::size_t size = line.size();
    // The first write takes the whole line; only a full disk or a signal
    // leaves a rest, which goes right after it.
    while (size > 0) {
        errno = 0;
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return Fail(reason);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool FlushToDisk(std::intptr_t native, std::string& reason) {
    errno = 0;
    if (::fsync(static_cast<int>(native)) == 0) return true;
    // A pipe or a terminal (--log /dev/stdout) keeps nothing to put on a disk.
    if (errno == EINVAL || errno == EROFS) return true;
    return Fail(reason);
}

void CloseLog(std::intptr_t native) noexcept { ::close(static_cast<int>(native)); }

}  // namespace veltra::terminal::platform
