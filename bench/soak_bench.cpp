// A station's shift in a few minutes: veltra-load --loop --log on four ports,
// several hundred devices a port, each put on its line when the program waits
// for the next device and taken off when it waits for the device to go, as an
// operator does. The simulated devices are unpaced and the image is small, so
// a device takes well under a second, most of it the probes that tell that it
// has gone. Whatever a device leaves behind shows here: the program's open
// descriptors and resident memory after the first devices (all ports together)
// and at the end, the log's lines against the devices flashed, and the ports'
// lock files left in the system's lock folder.
//
// soak_bench [DEVICES]: DEVICES a port, 300 when not given.
#include <signal.h>
#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DownloadBench.h"
#include "serial/PortGuardsPosix.h"
#include "sim/LoaderDevice.h"
#include "sim/Personality.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"
#include "support/LineOfDevices.h"

namespace {

namespace fs = std::filesystem;
using veltra::testing::ChildProgram;
using veltra::testing::LineOfDevices;
using Clock = ChildProgram::Clock;
using namespace std::chrono_literals;

constexpr std::size_t kPorts = 4;
constexpr int kDefaultDevices = 300;
// Devices, all ports together, before the first look at the program: its
// buffers, the log's and the ports' have all been used by then.
constexpr int kFirstLook = 50;
constexpr std::size_t kImageSize = 100;  // two blocks
constexpr long kMemoryGrowthGoalKb = 1024;
const std::string kLockDir = "/run/lock";
// Not held by the device: veltra-load refuses a line another process holds open.
constexpr veltra::sim::DeviceOptions kFastLine{.holdLine = false};
// Bounds that only catch a run that hangs: a device takes under a second.
constexpr auto kLinePatience = 60s;
constexpr auto kEndPatience = 30s;

struct Port {
    std::shared_ptr<LineOfDevices> line = std::make_shared<LineOfDevices>();
    std::unique_ptr<veltra::sim::SimDevice> pty;
    std::string prefix;  // of the program's lines about this port
    std::shared_ptr<veltra::sim::LoaderDevice> device;  // the one last put on
    int put = 0;
    int flashed = 0;  // told successful, and holding the image byte-exact
};

// What the program holds at one moment, from /proc.
struct Held {
    int descriptors = -1;
    long residentKb = -1;
};

Held Look(pid_t pid) {
    Held held;
    const fs::path proc = fs::path("/proc") / std::to_string(pid);
    std::error_code error;
    held.descriptors = 0;
    for (fs::directory_iterator fd(proc / "fd", error), end; !error && fd != end; fd.increment(error)) {
        ++held.descriptors;
    }
    if (error) held.descriptors = -1;
    std::ifstream status(proc / "status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) held.residentKb = std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return held;
}

int LockFilesOf(const std::vector<Port>& ports) {
    int count = 0;
    for (const Port& port : ports) {
        if (port.pty && fs::exists(veltra::platform::posix::LockFilePath(kLockDir, port.pty->Path()))) ++count;
    }
    return count;
}

struct LogCount {
    int lines = 0;
    int successful = 0;  // whole JSON objects whose result is a success
    int broken = 0;      // lines that are no JSON object
};

LogCount CountLog(const std::string& path) {
    LogCount count;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        ++count.lines;
        const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_object()) {
            ++count.broken;
        } else if (json.value("result", "").starts_with("Successful - ")) {
            ++count.successful;
        }
    }
    return count;
}

const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

}  // namespace

int main(int argc, char** argv) {
    const int devices = argc > 1 ? std::atoi(argv[1]) : kDefaultDevices;
    // The first look comes after kFirstLook devices: there must be more.
    if (argc > 2 || devices * static_cast<int>(kPorts) <= kFirstLook) {
        std::fprintf(stderr, "usage: soak_bench [DEVICES]  (devices a port, from %d up; %d when not given)\n",
                     kFirstLook / static_cast<int>(kPorts) + 1, kDefaultDevices);
        return 64;
    }
    const fs::path folder = fs::temp_directory_path() / "veltra-soak-bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string file = (folder / "device.bin").string();
    const std::string log = (folder / "devices.jsonl").string();
    veltra::bench::WriteBenchFirmware(file, kImageSize);
    const std::string image = veltra::bench::WholeDownloadImage(veltra::bench::BenchFirmware(kImageSize));
    const std::string success = veltra::bench::WholeDownloadStatus(kImageSize) + " in ";

    std::vector<std::string> problems;
    std::vector<Port> ports(kPorts);
    std::vector<std::string> args{"--loop", "--log", log};
    Held first;
    Held last;
    int locksHeld = -1;
    int ended = 0;
    ChildProgram::End end;
    try {
        for (Port& port : ports) {
            port.pty = std::make_unique<veltra::sim::SimDevice>(port.line, kFastLine);
            port.prefix = port.pty->Path() + ": ";
            args.insert(args.end(), {"--port", port.pty->Path()});
        }
        args.push_back(file);
        std::printf("%zu ports, %d devices a port, a %zu-byte image, unpaced devices\n", kPorts, devices, kImageSize);
        std::fflush(stdout);

        ChildProgram load(VELTRA_LOAD_PROGRAM, args);
        std::size_t done = 0;
        while (done < kPorts && problems.size() < 10) {
            const std::optional<std::string> text = load.NextLine(Clock::now() + kLinePatience);
            if (!text) {
                problems.push_back("no line for a minute, or the program ended");
                break;
            }
            Port* port = nullptr;
            for (Port& p : ports) {
                if (text->starts_with(p.prefix)) port = &p;
            }
            if (port == nullptr) {
                problems.push_back("a line of no port: " + *text);
                continue;
            }
            const std::string rest = text->substr(port->prefix.size());
            if (rest == "Waiting for the next device") {
                // The port's last device has gone: its shift is over.
                if (port->put == devices) {
                    ++done;
                    continue;
                }
                port->device = std::make_shared<veltra::sim::LoaderDevice>();
                port->line->Put(port->device);
                ++port->put;
            } else if (rest.starts_with("Waiting for device ") && rest.ends_with(" to be taken off the line")) {
                port->line->Put(nullptr);
            } else if (rest.starts_with("#")) {
                ++ended;
                const std::string told = "#" + std::to_string(port->put) + " " + success;
                if (rest.starts_with(told) && port->device->Firmware() == image) {
                    ++port->flashed;
                } else {
                    problems.push_back(*text + " (device " + std::to_string(port->put) + ")");
                }
                if (ended == kFirstLook) {
                    first = Look(load.Pid());
                    locksHeld = LockFilesOf(ports);
                }
            } else {
                problems.push_back("unexpected: " + *text);
            }
        }
        last = Look(load.Pid());
        load.Signal(SIGINT);
        end = load.FinishBy(Clock::now() + kEndPatience);
        if (end.exitCode != 0) problems.push_back("exit code " + std::to_string(end.exitCode));
        if (!load.ErrorOutput().empty()) problems.push_back("on its standard error:\n" + load.ErrorOutput());
    } catch (const std::exception& e) {
        problems.push_back(e.what());
    }
    int flashed = 0;
    for (const Port& port : ports) flashed += port.flashed;
    const int locksLeft = LockFilesOf(ports);
    const LogCount logged = CountLog(log);
    fs::remove_all(folder);

    std::printf("%d devices flashed in %.1f s (%.2f s a device and port), CPU %.1f s\n", flashed, end.wallSeconds,
                flashed > 0 ? end.wallSeconds * kPorts / flashed : 0.0, end.CpuSeconds());
    const bool looked =
        first.descriptors >= 0 && last.descriptors >= 0 && first.residentKb >= 0 && last.residentKb >= 0;
    const int moreDescriptors = last.descriptors - first.descriptors;
    const long moreMemory = last.residentKb - first.residentKb;
    const bool descriptorsMet = looked && moreDescriptors <= 0;
    const bool memoryMet = looked && moreMemory < kMemoryGrowthGoalKb;
    const bool logMet = logged.lines == flashed && logged.successful == flashed && logged.broken == 0 &&
                        flashed == devices * static_cast<int>(kPorts);
    const bool locksMet = locksLeft == 0;
    // The yardstick of both: the program after its first devices, in this run.
    const auto ratio = [](double atEnd, double atFirst) { return atFirst > 0 ? atEnd / atFirst : 0.0; };
    std::printf("open descriptors after %d devices (all ports together): %d, at the end: %d; growth %+d, "
                "end / first %.3f (goal: no growth): %s\n",
                kFirstLook, first.descriptors, last.descriptors, moreDescriptors,
                ratio(last.descriptors, first.descriptors), Verdict(descriptorsMet));
    std::printf("resident memory after %d devices (all ports together): %ld kB, at the end: %ld kB; growth %+ld kB, "
                "end / first %.3f (goal: under %ld kB growth): %s\n",
                kFirstLook, first.residentKb, last.residentKb, moreMemory,
                ratio(static_cast<double>(last.residentKb), static_cast<double>(first.residentKb)),
                kMemoryGrowthGoalKb, Verdict(memoryMet));
    std::printf("log lines: %d (%d of them successful devices, %d no JSON object); devices flashed: %d of %d "
                "(goal: equal): %s\n",
                logged.lines, logged.successful, logged.broken, flashed, devices * static_cast<int>(kPorts),
                Verdict(logMet));
    std::printf("lock files left in %s for the %zu ports: %d, held during the run: %d (goal: none left): %s\n",
                kLockDir.c_str(), kPorts, locksLeft, locksHeld, Verdict(locksMet));
    for (const std::string& problem : problems) std::printf("problem: %s\n", problem.c_str());
    const bool whole = problems.empty() && descriptorsMet && memoryMet && logMet && locksMet;
    if (!whole) std::printf("FAILED: see above\n");
    return whole ? 0 : 1;
}
