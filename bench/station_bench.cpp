// veltra-load --loop on four ports at once against the same on one port: a
// 32 KiB download paced at 19200 baud to each of four simulated devices in
// this process, the program a child with its output to a pipe. Each port has
// a thread and a line of its own, so four devices should take no longer than
// one (the yardstick, measured in the same run), and the program mostly waits
// on its lines, so its CPU time should stay a sliver of its wall time.
// Alone and four at once take turns three times, on fresh devices each run.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DownloadBench.h"
#include "Figures.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"

namespace {

using veltra::bench::Figures;
using veltra::bench::Of;

using veltra::testing::ChildProgram;
using Clock = ChildProgram::Clock;
using namespace std::chrono_literals;

constexpr int kRounds = 3;
constexpr std::size_t kStation = 4;
// Not held by the device: veltra-load refuses a line another process holds open.
constexpr veltra::sim::DeviceOptions kPacedLine{.paceLine = true, .baud = veltra::bench::kBenchBaud, .holdLine = false};
// Bounds that only catch a run that hangs: a device takes about 30 s.
constexpr auto kFirstDevicePatience = 3min;
constexpr auto kEndPatience = 30s;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The file every device is sent, and what a device that took it whole has.
struct Firmware {
    std::string path;
    std::string image;    // the file padded to its closing block, as the loader keeps it
    std::string success;  // the start of the line of a device that took it whole
};

struct Run {
    double firstDevices = 0;  // from the spawn until every port's "#1" line was read
    ChildProgram::End end;
    std::vector<std::string> problems;

    double CpuPercent() const { return end.wallSeconds > 0 ? 100.0 * end.CpuSeconds() / end.wallSeconds : 0; }
};

// One veltra-load --loop with a fresh device on each of `ports` ports, until
// every port has told its first device's end; then interrupted, which ends
// the ports waiting for that device to be taken off at once.
Run FlashOneDevicePerPort(std::size_t ports, const Firmware& firmware) {
    std::vector<std::shared_ptr<veltra::sim::LoaderDevice>> loaders;
    std::vector<std::unique_ptr<veltra::sim::SimDevice>> devices;
    std::vector<std::string> args{"--loop"};
    // On one port the lines carry no port's name.
    std::vector<std::string> prefix(ports);
    for (std::size_t slot = 0; slot < ports; ++slot) {
        loaders.push_back(std::make_shared<veltra::sim::LoaderDevice>());
        devices.push_back(std::make_unique<veltra::sim::SimDevice>(loaders.back(), kPacedLine));
        args.push_back("--port");
        args.push_back(devices.back()->Path());
        if (ports > 1) prefix[slot] = devices.back()->Path() + ": ";
    }
    args.push_back(firmware.path);

    Run run;
    ChildProgram load(VELTRA_LOAD_PROGRAM, args, ChildProgram::Errors::WithOutput);
    std::vector<std::optional<std::string>> ended(ports);
    const auto deadline = load.SpawnedAt() + kFirstDevicePatience;
    for (std::size_t told = 0; told < ports;) {
        const std::optional<std::string> line = load.NextLine(deadline);
        if (!line) break;
        for (std::size_t slot = 0; slot < ports; ++slot) {
            if (ended[slot] || !line->starts_with(prefix[slot])) continue;
            std::string rest = line->substr(prefix[slot].size());
            if (!rest.starts_with("#1 ")) break;
            ended[slot] = std::move(rest);
            ++told;
            break;
        }
    }
    run.firstDevices = Since(load.SpawnedAt());
    load.Signal(SIGINT);
    run.end = load.FinishBy(Clock::now() + kEndPatience);

    // Appended piece by piece: GCC 12 at -O3 takes a chain of concatenations
    // for overlapping copies (-Wrestrict).
    std::string summary = "1 device: 1 succeeded, 0 failed";
    if (ports > 1) {
        const std::string count = std::to_string(ports);
        summary = "All ";
        summary += count;
        summary += " ports, ";
        summary += count;
        summary += " devices: ";
        summary += count;
        summary += " succeeded, 0 failed";
    }
    for (std::size_t slot = 0; slot < ports; ++slot) {
        const std::string& port = devices[slot]->Path();
        if (!ended[slot]) {
            run.problems.push_back(port + ": no line for device #1");
        } else if (!ended[slot]->starts_with(firmware.success)) {
            run.problems.push_back(port + ": " + *ended[slot]);
        }
        if (loaders[slot]->Firmware() != firmware.image) {
            run.problems.push_back(port + ": the device holds other bytes than the file's");
        }
    }
    if (run.end.exitCode != 0) run.problems.push_back("exit code " + std::to_string(run.end.exitCode));
    if (load.Output().find(summary) == std::string::npos) run.problems.push_back("no \"" + summary + "\"");
    if (!run.problems.empty()) run.problems.push_back("its output:\n" + load.Output());
    return run;
}

bool Report(const char* what, const Run& run) {
    std::printf("  %-5s  #1 after %6.2f s  ended after %6.2f s  CPU %5.3f s (user %5.3f, system %5.3f) = %4.2f %%\n",
                what, run.firstDevices, run.end.wallSeconds, run.end.CpuSeconds(), run.end.userSeconds,
                run.end.systemSeconds, run.CpuPercent());
    for (const std::string& problem : run.problems) std::printf("  %s: %s\n", what, problem.c_str());
    return run.problems.empty();
}

}  // namespace

int main() {
    Firmware firmware;
    firmware.path = (std::filesystem::temp_directory_path() / "veltra-station-bench.bin").string();
    veltra::bench::WriteBenchFirmware(firmware.path);
    firmware.image = veltra::bench::WholeDownloadImage(veltra::bench::BenchFirmware());
    firmware.success = "#1 ";
    firmware.success += veltra::bench::WholeDownloadStatus(veltra::bench::kBenchFileSize);
    firmware.success += " in ";

    bool whole = true;
    std::vector<double> ratios, stationCpu, aloneCpu;
    try {
        for (int round = 1; round <= kRounds; ++round) {
            std::printf("run %d\n", round);
            const Run alone = FlashOneDevicePerPort(1, firmware);
            whole = Report("alone", alone) && whole;
            const Run station = FlashOneDevicePerPort(kStation, firmware);
            whole = Report("four", station) && whole;
            ratios.push_back(station.firstDevices / alone.firstDevices);
            stationCpu.push_back(station.CpuPercent());
            aloneCpu.push_back(alone.CpuPercent());
            std::printf("  four / alone: %.3f\n", ratios.back());
            std::fflush(stdout);  // a run takes a minute: show it as it ends
        }
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        whole = false;
    }
    std::filesystem::remove(firmware.path);
    if (ratios.empty()) return 1;

    const Figures ratio = Of(ratios);
    const Figures cpu = Of(stationCpu);
    const Figures yardstick = Of(aloneCpu);
    std::printf("wall until #1, four ports / one port:  min %.3f  median %.3f  (goal <= 1.05)\n", ratio.min,
                ratio.median);
    std::printf("CPU / wall of veltra-load, four ports: min %.2f %%  median %.2f %%  (goal <= 2 %%)\n", cpu.min,
                cpu.median);
    std::printf("CPU / wall of veltra-load, one port:   min %.2f %%  median %.2f %%\n", yardstick.min,
                yardstick.median);
    if (!whole) std::printf("FAILED: see the problems above\n");
    return whole ? 0 : 1;
}
