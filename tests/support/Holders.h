#pragma once
// Other processes for the tests of an exclusive port: a pseudo-terminal that
// nobody holds, and children that hold a device open (or just live) until the
// test lets them go. Every child is killed and reaped when the holders end.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace veltra::testing {

inline constexpr char kHolderName[] = "holder-test";

// A pseudo-terminal whose slave nobody has open: only the master is kept, so
// a child forked while it exists inherits no hold on the slave and is seen
// with it only when it opens it itself.
class Pty {
public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
            throw std::system_error(errno, std::generic_category(), "openpty");
        }
        ::close(slave);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        path_ = name;
    }
    ~Pty() { ::close(master_); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Path() const { return path_; }

private:
    int master_ = -1;
    std::string path_;
};

class Holders {
public:
    Holders() = default;
    ~Holders() {
        for (const Child& child : children_) {
            ::close(child.release);
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, nullptr, 0);
        }
    }
    Holders(const Holders&) = delete;
    Holders& operator=(const Holders&) = delete;

    // Starts a child named kHolderName that opens `path` (when given) and then
    // waits until the holders end and close its release pipe. The child does only
    // async-signal-safe work, as it must after a fork of a test binary that
    // may have threads. Returns its pid once it is ready, or -1 (with
    // Problem() saying why) when it could not start or open.
    int Start(const std::string& path = {}) {
        const char* const device = path.empty() ? nullptr : path.c_str();
        int ready[2];
        int release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
            problem_ = std::string("pipe: ") + std::strerror(errno);
            return -1;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            ::prctl(PR_SET_NAME, kHolderName);
            const bool opened = device == nullptr || ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0;
            const char state = opened ? 'r' : 'e';
            if (::write(ready[1], &state, 1) != 1) ::_exit(1);
            char unused = 0;
            while (::read(release[0], &unused, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        if (pid < 0) {
            problem_ = std::string("fork: ") + std::strerror(errno);
            ::close(ready[0]);
            ::close(release[1]);
            return -1;
        }
        children_.push_back({pid, release[1]});
        char state = 0;
        ssize_t n = 0;
        do {
            n = ::read(ready[0], &state, 1);  // end of file when the child died instead
        } while (n < 0 && errno == EINTR);
        ::close(ready[0]);
        if (n != 1 || state != 'r') {
            problem_ = "the holder could not start with " + path;
            return -1;
        }
        return pid;
    }

    // Why the last Start gave -1.
    const std::string& Problem() const { return problem_; }

private:
    std::string problem_;
    struct Child {
        pid_t pid;
        int release;
    };
    std::vector<Child> children_;
};

}  // namespace veltra::testing
