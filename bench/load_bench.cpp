// A 32 KiB download paced at 19200 baud with the product's read timeouts,
// twice: through veltra-load in a child process (its output to a pipe), and
// through the core alone (RunDownload in this process, as download_bench
// does). Prints both wall times and their ratio: what the terminal program
// around the core costs.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "DownloadBench.h"
#include "QuietOperator.h"
#include "loader/Download.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"

namespace {

using veltra::testing::ChildProgram;
using Clock = ChildProgram::Clock;
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
    try {
        ChildProgram load(VELTRA_LOAD_PROGRAM, {"--port", device.Path(), path}, ChildProgram::Errors::WithOutput);
        // Bounds a run that hangs; a download takes well under a minute.
        const ChildProgram::End end = load.FinishBy(Clock::now() + std::chrono::minutes(5));
        std::string output = load.Output();
        while (!output.empty() && output.back() == '\n') output.pop_back();
        const std::string closing = output.substr(output.rfind('\n') == std::string::npos ? 0 : output.rfind('\n') + 1);
        return {end.wallSeconds, closing, end.exitCode};
    } catch (const std::system_error& e) {
        return {0, e.what(), 1};
    }
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
