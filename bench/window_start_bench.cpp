// The start time of the tool's window against that of an empty Qt window.
// Each start is a fresh process (start_probe_window: the program's own start;
// start_probe_minimal: the same start with an empty QWidget), timed from the
// spawn to its exit, which comes right after the window's first paint. The
// dynamic linking, Qt's platform plugin, fonts and style cost the same in both,
// and they vary with the machine and its load, so the empty window is the
// yardstick: the ratio of the two is what our window adds, and it holds far
// better across machines than the times themselves.
//
// One uncounted launch of each warms the file cache; then the two alternate,
// so a change in the machine's load falls on both alike. Prints the minimum
// and median of each, the ratio of the medians, and the minimum and median of
// the ratio within each pair. Optional argument: the number of pairs (15).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultPairs = 15;

struct Probe {
    const char* name;
    const char* path;
};

constexpr Probe kWindow{"tool window", VELTRA_START_PROBE_WINDOW};
constexpr Probe kMinimal{"minimal window", VELTRA_START_PROBE_MINIMAL};

// Seconds from the spawn to the probe's exit; negative when it did not start
// or did not end with 0 (its output goes nowhere, so a failure is reported
// with the command that shows it).
double Launch(const Probe& probe) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(probe.path), nullptr};
    pid_t pid = -1;
    const auto start = Clock::now();
    const int failed = ::posix_spawn(&pid, probe.path, &actions, nullptr, argv, environ);
    int status = 0;
    const bool ended = failed == 0 && ::waitpid(pid, &status, 0) == pid;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) return wall;
    const std::string why = failed != 0       ? "cannot start"
                            : !ended          ? "lost"
                            : WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                              : "signal " + std::to_string(WTERMSIG(status));
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::fprintf(stderr, "%s failed (%s); run it by hand to see why: QT_QPA_PLATFORM=%s %s\n", probe.name,
                 why.c_str(), platform != nullptr ? platform : "", probe.path);
    return -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Min(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

}  // namespace

int main(int argc, char* argv[]) {
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultPairs;
    // Without a display the probes still paint, into memory; they inherit this.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    if (Launch(kWindow) < 0 || Launch(kMinimal) < 0) return 1;

    std::vector<double> window, minimal, ratios;
    for (int i = 0; i < pairs; ++i) {
        const double w = Launch(kWindow);
        const double m = Launch(kMinimal);
        if (w < 0 || m < 0) return 1;
        window.push_back(w);
        minimal.push_back(m);
        ratios.push_back(w / m);
    }

    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("start to first paint, %d pairs, platform %s\n", pairs, platform ? platform : "(default)");
    std::printf("  %-15s min %7.1f ms  median %7.1f ms\n", kWindow.name, Min(window) * 1e3, Median(window) * 1e3);
    std::printf("  %-15s min %7.1f ms  median %7.1f ms\n", kMinimal.name, Min(minimal) * 1e3,
                Median(minimal) * 1e3);
    std::printf("tool / minimal, ratio of medians: %.3f\n", Median(window) / Median(minimal));
    std::printf("tool / minimal, within a pair:    min %.3f  median %.3f\n", Min(ratios), Median(ratios));
    return 0;
}
