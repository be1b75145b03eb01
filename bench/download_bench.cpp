// A 32 KiB download through the simulated device's loader with the line paced
// at 19200 baud and the product's read timeouts. Prints the wall time, the CPU
// time and the ratio of the wall time to the protocol's floor: for each block,
// the frame and its reply on the line plus the 20 ms of silence that ends a read.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "loader/Download.h"
#include "DownloadBench.h"
#include "QuietOperator.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"

namespace {

using veltra::bench::QuietOperator;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main() {
    constexpr std::size_t kFileSize = veltra::bench::kBenchFileSize;
    const std::string path = (std::filesystem::temp_directory_path() / "veltra-download-bench.bin").string();
    veltra::bench::WriteBenchFirmware(path);

    auto loader = std::make_shared<veltra::sim::LoaderDevice>();
    veltra::sim::SimDevice device(loader, veltra::sim::DeviceOptions{true, veltra::bench::kBenchBaud});
    QuietOperator op;
    veltra::SerialPort port(op);
    port.SetDeviceNameMap([&](const std::string&) { return device.Path(); });
    if (!port.OpenPort("COM3:", "19200,n,8,1")) return 1;
    veltra::ByteString wrs;
    veltra::FirmwareChoice choice{path, std::filesystem::temp_directory_path().string() + "/",
                                  static_cast<std::int64_t>(kFileSize)};
    op.maximum = static_cast<int>(kFileSize);

    const double cpuStart = CpuSeconds();
    const double threadStart = veltra::bench::ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    veltra::RunDownload(port, op, wrs, choice);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    const double threadCpu = veltra::bench::ThreadCpuSeconds() - threadStart;

    const std::size_t blocks = loader->Frames().size();
    const double floor = veltra::bench::FloorSeconds(blocks);
    std::printf("status: %s\n", op.status.c_str());
    std::printf("blocks: %zu\nwall: %.2f s\ncpu: %.3f s (%.1f%% of wall; includes the simulated device's thread)\n",
                blocks, wall, cpu, 100.0 * cpu / wall);
    std::printf("program thread cpu: %.3f s (%.2f%% of wall)\n", threadCpu, 100.0 * threadCpu / wall);
    std::printf("floor: %.2f s\nwall / floor: %.3f\n", floor, wall / floor);
    std::filesystem::remove(path);
    return op.status == veltra::bench::WholeDownloadStatus(kFileSize) ? 0 : 1;
}
