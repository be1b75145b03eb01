// A 32 KiB download paced at 19200 baud with the product's read timeouts,
// twice: through veltra-load in a child process (its output to a pipe), and
// through the core alone (RunDownload in this process, as download_bench
// does). Prints both wall times and their ratio: what the terminal program
// around the core costs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DownloadBench.h"
#include "QuietOperator.h"
#include "loader/Download.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileSize = veltra::bench::kBenchFileSize;
// Not held by the device: veltra-load refuses a line another process holds open.
constexpr veltra::sim::DeviceOptions kPacedLine{.paceLine = true, .baud = veltra::bench::kBenchBaud, .holdLine = false};

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Result {
    double wall = 0;
    std::string closing;
    int exitCode = 0;
};

Result ThroughTheCore(const std::string& path) {
    auto loader = std::make_shared<veltra::sim::LoaderDevice>();
    veltra::sim::SimDevice device(loader, kPacedLine);
    veltra::bench::QuietOperator op;
    veltra::SerialPort port(op);
    port.SetDeviceNameMap([&](const std::string&) { return device.Path(); });
    if (!port.OpenPort("COM3:", veltra::kDeviceLineSettings)) return {0, "cannot open the port", 1};
    veltra::ByteString wrs;
    const veltra::FirmwareChoice choice{path, std::filesystem::path(path).parent_path().string() + "/",
                                        static_cast<std::int64_t>(kFileSize)};
    op.maximum = static_cast<int>(kFileSize);

    const auto start = Clock::now();
    veltra::RunDownload(port, op, wrs, choice);
    const double wall = Since(start);
    port.ClosePort();
    return {wall, op.status, 0};
}

Result ThroughTheProgram(const std::string& path) {
    auto loader = std::make_shared<veltra::sim::LoaderDevice>();
    veltra::sim::SimDevice device(loader, kPacedLine);
    std::string program = VELTRA_LOAD_PROGRAM;
    std::vector<std::string> args{program, "--port", device.Path(), path};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {0, "no pipe", 1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = -1;
    const auto start = Clock::now();
    const int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed != 0) {
        ::close(out[0]);
        return {0, "cannot start " + program, 1};
    }
    // Its output until it ends: each read waits for the next line.
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double wall = Since(start);
    ::close(out[0]);
    while (!output.empty() && output.back() == '\n') output.pop_back();
    const std::string closing = output.substr(output.rfind('\n') == std::string::npos ? 0 : output.rfind('\n') + 1);
    return {wall, closing, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

int main() {
    const std::string path = (std::filesystem::temp_directory_path() / "veltra-load-bench.bin").string();
    veltra::bench::WriteBenchFirmware(path);
    const std::string expected = veltra::bench::WholeDownloadStatus(kFileSize);

    const Result core = ThroughTheCore(path);
    std::printf("core alone (RunDownload in process):   %.2f s  %s\n", core.wall, core.closing.c_str());
    const Result load = ThroughTheProgram(path);
    std::printf("veltra-load (child, output to a pipe): %.2f s  %s (exit %d)\n", load.wall, load.closing.c_str(),
                load.exitCode);
    std::printf("veltra-load / core alone: %.3f\n", load.wall / core.wall);
    std::filesystem::remove(path);
    return core.closing == expected && load.closing == expected && load.exitCode == 0 ? 0 : 1;
}
