// Firmware files on POSIX: stat decides the kind before anything is opened,
// the open itself does not block (O_NONBLOCK), and fstat of the open file
// checks again, since the name may have been replaced in between.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "firmware/FirmwareFile.h"

namespace veltra::platform {
namespace {

FileProblem Refuse(std::string reason) { return {false, std::move(reason)}; }
FileProblem FromErrno(int error) { return Refuse(std::strerror(error)); }

// Why a file of this mode is not a firmware file; empty for a regular file.
std::string KindProblem(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "it is a folder, not a file";
    if (S_ISFIFO(mode)) return "it is a named pipe, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "it is not a regular file";
}

FileProblem TooLarge(std::int64_t length) { return {false, {}, length}; }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

FileProblem RegularFileLength(const std::string& path, std::int64_t& length) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FromErrno(errno);
    if (auto kind = KindProblem(st.st_mode); !kind.empty()) return Refuse(std::move(kind));
    length = static_cast<std::int64_t>(st.st_size);
    return {};
}

FileProblem ReadRegularFile(const std::string& path, std::int64_t limit, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::int64_t expected = 0;
    if (auto problem = RegularFileLength(path, expected); !problem.ok) return problem;
    if (expected > limit) return TooLarge(expected);

    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return FromErrno(errno);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return FromErrno(errno);
    if (auto kind = KindProblem(st.st_mode); !kind.empty()) return Refuse(std::move(kind));
    expected = static_cast<std::int64_t>(st.st_size);
    if (expected > limit) return TooLarge(expected);

    // Read to the end, not to the length: a file that grows meanwhile is read as
    // far as the limit allows, one that shrinks ends where it ends. One byte of
    // room past the length tells a growing file at once.
    bytes.resize(static_cast<std::size_t>(expected) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (static_cast<std::int64_t>(filled) > limit) break;
            bytes.resize(std::min<std::size_t>(bytes.size() * 2, static_cast<std::size_t>(limit) + 1));
        }
        const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            bytes.clear();
            return FromErrno(error);
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    if (static_cast<std::int64_t>(filled) > limit) {
        bytes.clear();
        return TooLarge(static_cast<std::int64_t>(filled));
    }
    bytes.resize(filled);
    return {};
}

}  // namespace veltra::platform
