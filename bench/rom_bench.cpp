// Programming a 28 KiB program area (records 160 to 383) through the ROM
// bootloader with the core's flashing run, against the simulated bootloader
// pacing the line at the speed the port was opened with, at 19200 and at
// 115200 baud. Prints each run's wall time as a ratio to the line's floor:
// every byte sent and every answer byte at 10 bits, plus the simulator's
// programming time for each block and its erase time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "QuietOperator.h"
#include "rombootloader/FlashingRun.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/SimDevice.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kHeader = 64;
constexpr std::size_t kRecord = 128;
constexpr std::size_t kFirstRecord = 160;
constexpr std::size_t kLastRecord = 383;
constexpr auto kProgramTime = 3ms;  // per block written, as a small chip takes
constexpr auto kEraseTime = 50ms;
constexpr int kRuns = 5;

// Ends one byte short of record 383, so that no padding record follows it.
std::string WriteImage() {
    const std::string path = (std::filesystem::temp_directory_path() / "veltra-rom-bench.bin").string();
    std::string image(kHeader + kRecord * (kLastRecord + 1) - 1, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 % 253);
    image[kHeader + kRecord * kFirstRecord] = 0x23;
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return path;
}

struct Run {
    double wall = 0;
    double floor = 0;
    std::size_t blocks = 0;
};

Run Once(const std::string& path, int baud) {
    veltra::sim::RomOptions options;
    options.programTime = kProgramTime;
    options.eraseTime = kEraseTime;
    auto rom = std::make_shared<veltra::sim::RomBootloaderDevice>(options);
    // Baud 0: the device paces the line at the speed the port set.
    veltra::sim::SimDevice device(rom, veltra::sim::DeviceOptions{true, 0});
    veltra::bench::QuietOperator op;
    veltra::SerialPort port(op);
    port.SetDeviceNameMap([&](const std::string&) { return device.Path(); });
    if (!port.OpenPort("COM3:", std::to_string(baud) + ",n,8,1")) return {};
    veltra::ByteString wrs;
    const veltra::FirmwareChoice choice{path, std::filesystem::path(path).parent_path().string() + "/",
                                        static_cast<std::int64_t>(std::filesystem::file_size(path))};

    const auto start = std::chrono::steady_clock::now();
    const auto outcome = veltra::rom::RunFlashing(port, op, wrs, choice);
    Run run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome != veltra::rom::FlashingOutcome::Written) std::printf("the run did not write every record\n");

    const auto log = rom->Log();
    for (const auto& frame : log) {
        if (frame.kind == veltra::sim::RomFrame::Kind::Data && frame.bytes.size() == kRecord + 2) ++run.blocks;
    }
    const std::size_t sent = device.Received().size();
    const std::size_t answers = log.size() + 1;  // every frame, and the synchronisation
    const std::size_t dataFrames = static_cast<std::size_t>(
        std::count_if(log.begin(), log.end(), [](const auto& f) { return f.kind == veltra::sim::RomFrame::Kind::Data; }));
    run.floor = static_cast<double>(sent + answers) * 10.0 / baud +
                static_cast<double>(dataFrames) * std::chrono::duration<double>(kProgramTime).count() +
                static_cast<double>(rom->GlobalErases()) * std::chrono::duration<double>(kEraseTime).count();
    return run;
}

}  // namespace

int main() {
    const std::string path = WriteImage();
    for (const int baud : {19200, 115200}) {
        std::vector<double> ratios;
        for (int i = 0; i < kRuns; ++i) {
            const Run run = Once(path, baud);
            ratios.push_back(run.wall / run.floor);
            std::printf("%6d baud: %zu records, wall %.2f s, floor %.2f s, ratio %.3f\n", baud, run.blocks, run.wall,
                        run.floor, run.wall / run.floor);
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf("%6d baud: ratio to the line floor, min / median: %.3f / %.3f\n", baud, ratios.front(),
                    ratios[ratios.size() / 2]);
    }
    std::filesystem::remove(path);
    return 0;
}
