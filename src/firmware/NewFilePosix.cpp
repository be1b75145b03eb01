// The steps of a file written new, on POSIX (Linux): open(O_CREAT | O_EXCL)
// with mode 0666 less the umask, like any ordinary file of the folder; write()
// until all is out, then sync_file_range to start the write-back of what is
// written; fsync; close; rename over the final name, or renameat2
// (RENAME_NOREPLACE) to a name not taken, then fsync of the folder; unlink.
// The reasons are the system's error texts (strerror).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "firmware/FileSystem.h"

namespace veltra::platform {
namespace {

// Past a file-size limit the system would end the whole program with SIGXFSZ,
// leaving the temporary file behind; ignored, the write fails with EFBIG and is
// reported like a full disk.
void IgnoreFileSizeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

// The reason of the failure just seen; EIO for a call that failed without
// saying why (a write that wrote nothing).
bool Fail(std::string& reason) {
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

}  // namespace

NewFile::~NewFile() {
    if (native_ >= 0) ::close(static_cast<int>(native_));
}

NewFile::Creation NewFile::Create(const std::string& path, std::string& reason) {
    IgnoreFileSizeSignal();
    errno = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
        native_ = fd;
        return Creation::Created;
    }
    const bool taken = errno == EEXIST;
    Fail(reason);
    return taken ? Creation::NameTaken : Creation::Failed;
}

bool NewFile::WriteAll(const char* data, std::size_t size, std::string& reason) {
    const int fd = static_cast<int>(native_);
    while (size > 0) {
        errno = 0;
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return Fail(reason);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    // Only a start, never waited for: an error of the write-back comes again
    // from the fsync of FlushToDisk.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return true;
}

bool NewFile::FlushToDisk(std::string& reason) {
    errno = 0;
    return ::fsync(static_cast<int>(native_)) == 0 || Fail(reason);
}

bool NewFile::Close(std::string& reason) {
    if (native_ < 0) return true;
    errno = 0;
    const int fd = static_cast<int>(native_);
    native_ = -1;  // gone whatever close says: it is never closed twice
    return ::close(fd) == 0 || Fail(reason);
}

bool MoveOver(const std::string& from, const std::string& to, std::string& reason) {
    errno = 0;
    return std::rename(from.c_str(), to.c_str()) == 0 || Fail(reason);
}

Placing MoveToFreeName(const std::string& from, const std::string& to, std::string& reason) {
    errno = 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return Placing::Placed;
    // A file system without the flag: a hard link is refused over a name
    // taken as well, and the temporary name then goes.
    if (errno == EINVAL || errno == ENOSYS) {
        errno = 0;
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return Placing::Placed;
        }
    }
    const bool taken = errno == EEXIST;
    Fail(reason);
    return taken ? Placing::NameTaken : Placing::Failed;
}

bool SyncFolder(const std::string& folder, std::string& reason) {
    errno = 0;
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(reason);
    const bool synced = ::fsync(fd) == 0 || Fail(reason);
    ::close(fd);
    return synced;
}

void RemoveQuietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace veltra::platform
