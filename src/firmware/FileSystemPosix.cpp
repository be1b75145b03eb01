// Reading files and telling files apart on POSIX: stat decides the kind
// before anything is opened, the open itself does not block (O_NONBLOCK), and
// fstat of the open file checks again, since the name may have been replaced
// in between. One file is one device and inode number; '/' is the only
// separator. The reasons are the system's error texts (strerror).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "serial/DescriptorPosix.h"
#include "firmware/FileSystem.h"

namespace veltra::platform {
namespace {

using veltra::posix::Descriptor;

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


}  // namespace

FileProblem RegularFileLength(const std::string& path, std::int64_t& length) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FromErrno(errno);
    if (auto kind = KindProblem(st.st_mode); !kind.empty()) return Refuse(std::move(kind));
    length = static_cast<std::int64_t>(st.st_size);
    return {};
}

FileProblem ReadRegularFile(const std::string& path, std::int64_t limit, FileBytes& bytes) {
    bytes.clear();
    std::int64_t expected = 0;
    if (auto problem = RegularFileLength(path, expected); !problem.ok) return problem;
    if (expected > limit) return TooLarge(expected);

    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) return FromErrno(errno);
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0) return FromErrno(errno);
    if (auto kind = KindProblem(st.st_mode); !kind.empty()) return Refuse(std::move(kind));
    expected = static_cast<std::int64_t>(st.st_size);
    if (expected > limit) return TooLarge(expected);

    return ReadToEnd(expected, limit,
                     [&file](std::uint8_t* into, std::size_t room, std::size_t& got, std::string& reason) {
                         ssize_t n = -1;
                         do {
                             n = ::read(file.Get(), into, room);
                         } while (n < 0 && errno == EINTR);
                         if (n < 0) {
                             reason = std::strerror(errno);
                             return false;
                         }
                         got = static_cast<std::size_t>(n);
                         return true;
                     },
                     bytes);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsPathSeparator(char c) { return c == '/'; }

}  // namespace veltra::platform
