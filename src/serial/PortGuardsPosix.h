#pragma once
// What keeps a port the operator's while flashing, beyond the descriptor's own
// flock and the terminal's exclusive mode: the UUCP lock file that serial
// terminal programs take and honour, and a look through /proc for a process
// that has the device open without any lock at all (a terminal program, `cat`).
#include <optional>
#include <string>

namespace veltra::platform::posix {

struct PortHolder {
    int pid = 0;          // 0 when the holder could not be told
    std::string program;  // the process's name from <procDir>/<pid>/comm, e.g. "minicom"; "" when unknown
};

// The UUCP lock file of a device: <lockDir>/LCK..<name>, where name is the
// device path's part after "/dev/" with every '/' turned into '_'
// ("/dev/ttyUSB0" -> "LCK..ttyUSB0", "/dev/pts/3" -> "LCK..pts_3"); for a path
// outside /dev, its last component.
std::string LockFilePath(const std::string& lockDir, const std::string& devicePath) noexcept;

enum class LockResult {
    Taken,        // the lock file is ours now (written with our pid)
    HeldByOther,  // a live process holds it: `holder` tells which
    NoLockDir,    // the folder is missing, read-only or not ours to write: go on without a lock
};

// Takes the lock for the device. A lock whose process is gone, or whose content
// is no pid at all, is stale: it is removed and taken over. Our own pid in it
// counts as ours. The file holds the pid in the HDB UUCP form (ten characters,
// right-aligned, then a newline), mode 0644; the old 4-byte binary form is read
// too. A lock that cannot be read, or one that keeps changing under a few
// attempts, counts as held (holder.pid 0 when nobody could be named).
LockResult TakeLock(const std::string& lockFile, PortHolder& holder,
                    const std::string& procDir = "/proc") noexcept;

// Removes the lock file, only when it still holds our pid.
void ReleaseLock(const std::string& lockFile) noexcept;

// Another process that has the same character device open, found through
// <procDir>/<pid>/fd/*; this process is never counted. Processes this user may
// not look into are skipped (as a non-root user, every process of another user
// and every process that made itself non-dumpable). Returns the first found.
std::optional<PortHolder> FindOtherOpener(const std::string& devicePath,
                                          const std::string& procDir = "/proc") noexcept;

}  // namespace veltra::platform::posix
