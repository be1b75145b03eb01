#pragma once
// A program of the build in a child process, for the tests and the benches
// that drive the real programs (veltra-sim, veltra-load): its standard input
// /dev/null, its standard output and error read through pipes while it runs
// (poll on the pipes, never past a patience or a deadline), and at its end its
// exit status, its wall time from the spawn and the CPU time it used. The
// tests bound every wait by a patience that only proves something ends; the
// benches read the output line by line against deadlines. The child is killed
// and reaped when the object goes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace veltra::testing {

class ChildProgram {
public:
    using Clock = std::chrono::steady_clock;
    enum class Errors { Apart, WithOutput };  // standard error on a pipe of its own, or with the output

    struct End {
        int exitCode = -1;         // -1: ended by a signal, or killed at the deadline
        double wallSeconds = 0;    // from the spawn to its end
        double userSeconds = 0;    // CPU time of all its threads, in the program
        double systemSeconds = 0;  // and in the kernel on its behalf
        double CpuSeconds() const { return userSeconds + systemSeconds; }
    };

    // Throws std::system_error when there is no pipe or the program cannot start.
    ChildProgram(const std::string& program, const std::vector<std::string>& args, Errors errors = Errors::Apart) {
        std::vector<std::string> copies{program};
        copies.insert(copies.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        int err[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        streams_[0].fd = out[0];
        if (errors == Errors::Apart && ::pipe2(err, O_CLOEXEC) != 0) {
            const int error = errno;
            ::close(out[1]);
            CloseStreams();
            throw std::system_error(error, std::generic_category(), "pipe");
        }
        streams_[1].fd = err[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errors == Errors::Apart ? err[1] : out[1], 2);
        spawned_ = Clock::now();
        const int failed = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (err[1] >= 0) ::close(err[1]);
        if (failed != 0) {
            pid_ = -1;
            CloseStreams();
            throw std::system_error(failed, std::generic_category(), "cannot start " + program);
        }
    }
    ~ChildProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        CloseStreams();
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    Clock::time_point SpawnedAt() const { return spawned_; }
    // Its process id while it runs (for a look into /proc); -1 once reaped.
    pid_t Pid() const { return pid_; }

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

    // The next line of its output, without the '\n'; nothing once the
    // deadline has passed or the output has ended. A last line that the
    // program left unended comes when the output ends. Apart from the waits
    // above: each keeps its own place in the output.
    std::optional<std::string> NextLine(Clock::time_point deadline) {
        const std::string& output = streams_[0].text;
        for (;;) {
            const std::size_t end = output.find('\n', lineStart_);
            if (end != std::string::npos) return TakeLine(end, end + 1);
            if (streams_[0].fd < 0) {
                if (lineStart_ == output.size()) return std::nullopt;
                return TakeLine(output.size(), output.size());
            }
            if (!ReadSome(deadline)) return std::nullopt;
        }
    }

    // Reads everything until the program ends, then reaps it; when its output
    // has not ended by the deadline it is killed.
    End FinishBy(Clock::time_point deadline) {
        while (ReadSome(deadline)) {
        }
        const bool ended = Closed();
        if (!ended) ::kill(pid_, SIGKILL);
        int status = 0;
        rusage usage{};
        ::wait4(pid_, &status, 0, &usage);
        End result;
        result.wallSeconds = std::chrono::duration<double>(Clock::now() - spawned_).count();
        pid_ = -1;
        result.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.userSeconds = Seconds(usage.ru_utime);
        result.systemSeconds = Seconds(usage.ru_stime);
        return result;
    }

    // The same within a patience; its exit status alone, or -1 when it did
    // not end within the patience (it is killed then) or ended by a signal.
    int Finish(std::chrono::milliseconds patience) { return FinishBy(Clock::now() + patience).exitCode; }

    void Signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // Everything read so far; with Errors::WithOutput the output holds both.
    const std::string& Output() const { return streams_[0].text; }
    const std::string& ErrorOutput() const { return streams_[1].text; }

private:
    struct Stream {
        int fd = -1;
        std::string text;
    };

    static double Seconds(const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    }

    bool Closed() const { return streams_[0].fd < 0 && streams_[1].fd < 0; }

    void CloseStreams() {
        for (Stream& s : streams_) {
            if (s.fd >= 0) ::close(s.fd);
            s.fd = -1;
        }
    }

    std::string TakeLine(std::size_t end, std::size_t next) {
        std::string line = streams_[0].text.substr(lineStart_, end - lineStart_);
        lineStart_ = next;
        return line;
    }

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
    Clock::time_point spawned_;
    Stream streams_[2];
    std::size_t found_ = 0;      // where WaitForOutput looks on from
    std::size_t lineStart_ = 0;  // where NextLine's next line begins
};

}  // namespace veltra::testing
