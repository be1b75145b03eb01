#pragma once
// A program of the build in a child process, for the benches that time the
// real programs: its standard output and error on one pipe, read line by line
// as they come (poll on the pipe, never longer than a deadline), and at its
// end its exit code, its wall time from the spawn and the CPU time it used.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace veltra::bench {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    struct End {
        int exitCode = -1;         // -1: ended by a signal, or killed at the deadline
        double wallSeconds = 0;    // from the spawn to its end
        double userSeconds = 0;    // CPU time of all its threads, in the program
        double systemSeconds = 0;  // and in the kernel on its behalf
        double CpuSeconds() const { return userSeconds + systemSeconds; }
    };

    // Throws std::system_error when there is no pipe or the program cannot start.
    ChildProcess(const std::string& program, const std::vector<std::string>& args) {
        std::vector<std::string> copies{program};
        copies.insert(copies.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        spawned_ = Clock::now();
        const int failed = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        fd_ = out[0];
        if (failed != 0) {
            pid_ = -1;
            ::close(fd_);
            fd_ = -1;
            throw std::system_error(failed, std::generic_category(), "cannot start " + program);
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    Clock::time_point SpawnedAt() const { return spawned_; }
    const std::string& Output() const { return output_; }  // everything read so far
    void Signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // The next line of its output, without the '\n'; nothing once the
    // deadline has passed or the output has ended. A last line that the
    // program left unended comes when the output ends.
    std::optional<std::string> NextLine(Clock::time_point deadline) {
        for (;;) {
            const std::size_t end = output_.find('\n', lineStart_);
            if (end != std::string::npos) return Take(end, end + 1);
            if (fd_ < 0) {
                if (lineStart_ == output_.size()) return std::nullopt;
                return Take(output_.size(), output_.size());
            }
            if (!ReadSome(deadline)) return std::nullopt;
        }
    }

    // Reads its output to the end, then reaps it; when the output has not
    // ended by the deadline the program is killed.
    End Finish(Clock::time_point deadline) {
        while (ReadSome(deadline)) {
        }
        const bool ended = fd_ < 0;
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

private:
    static double Seconds(const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    }

    std::string Take(std::size_t end, std::size_t next) {
        std::string line = output_.substr(lineStart_, end - lineStart_);
        lineStart_ = next;
        return line;
    }

    // Takes what arrives before the deadline; false once the output has
    // ended (the pipe closed) or the deadline has passed.
    bool ReadSome(Clock::time_point deadline) {
        if (fd_ < 0) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd ready{fd_, POLLIN, 0};
        const int count = ::poll(&ready, 1, static_cast<int>(left));
        if (count < 0 && errno != EINTR) return false;
        if (count <= 0) return true;  // the deadline is looked at again
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(fd_);  // the program has ended
            fd_ = -1;
        }
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    Clock::time_point spawned_;
    std::string output_;
    std::size_t lineStart_ = 0;
};

}  // namespace veltra::bench
