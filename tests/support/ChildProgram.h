#pragma once
// A program of the build in a child process, its standard output and error
// read through pipes while it runs, for the tests that drive the real
// programs (veltra-sim, veltra-load). Every wait is bounded by a patience
// that only proves something ends; the child is killed and reaped when the
// object goes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace veltra::testing {

class ChildProgram {
public:
    enum class Errors { Apart, WithOutput };  // standard error on a pipe of its own, or with the output

    ChildProgram(const std::string& program, const std::vector<std::string>& args, Errors errors = Errors::Apart) {
        std::vector<std::string> copies = args;
        std::string path = program;
        std::vector<char*> argv{path.data()};
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        int err[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
        if (errors == Errors::Apart && ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errors == Errors::Apart ? err[1] : out[1], 2);
        const int failed = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (err[1] >= 0) ::close(err[1]);
        streams_[0].fd = out[0];
        streams_[1].fd = err[0];
        if (failed != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + program + ": " + std::strerror(failed));
        }
    }
    ~ChildProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (const Stream& s : streams_) {
            if (s.fd >= 0) ::close(s.fd);
        }
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Waits until the output holds `text` past what earlier waits found, and
    // moves past it; false when it did not come within the patience or the
    // program ended without it.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds patience) {
        const auto deadline = Clock::now() + patience;
        for (;;) {
            const std::size_t at = streams_[0].text.find(text, found_);
            if (at != std::string::npos) {
                found_ = at + text.size();
                return true;
            }
            if (!ReadSome(deadline)) return false;
        }
    }

    // Waits until the whole output so far satisfies `done`, for output that
    // comes in no fixed order (several ports at once); false as above.
    bool WaitForOutputWhere(const std::function<bool(const std::string& output)>& done,
                            std::chrono::milliseconds patience) {
        const auto deadline = Clock::now() + patience;
        while (!done(streams_[0].text)) {
            if (!ReadSome(deadline)) return false;
        }
        return true;
    }

    // Reads everything until the program ends; its exit status, or -1 when it
    // did not end within the patience (it is killed then) or ended by a signal.
    int Finish(std::chrono::milliseconds patience) {
        const auto deadline = Clock::now() + patience;
        while (ReadSome(deadline)) {
        }
        const bool ended = Closed();
        if (!ended) ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int sig) const { ::kill(pid_, sig); }

    const std::string& Output() const { return streams_[0].text; }
    const std::string& ErrorOutput() const { return streams_[1].text; }

private:
    using Clock = std::chrono::steady_clock;
    struct Stream {
        int fd = -1;
        std::string text;
    };

    bool Closed() const { return streams_[0].fd < 0 && streams_[1].fd < 0; }

    // Takes what arrives on either pipe before the deadline; false once both
    // have closed or the deadline has passed.
    bool ReadSome(Clock::time_point deadline) {
        if (Closed()) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd fds[2] = {{streams_[0].fd, POLLIN, 0}, {streams_[1].fd, POLLIN, 0}};  // a negative fd is skipped
        const int ready = ::poll(fds, 2, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                streams_[i].text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(streams_[i].fd);  // the program has ended (or closed it)
                streams_[i].fd = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    Stream streams_[2];
    std::size_t found_ = 0;
};

}  // namespace veltra::testing
