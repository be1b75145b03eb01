// Blank boards through the ROM bootloader: veltra-load --loop --rom on four
// ports at once against the same on one port, at 115200 baud, each against a
// simulated bootloader of this process that paces its line and takes 3 ms to
// program a block. Each port has a thread and a line of its own, so four
// boards should take no longer than one (the yardstick, measured in the same
// run). Then the cost of --keep-eeprom: one --rom run with it against one
// without, taking turns.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Figures.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"

namespace {

using veltra::bench::Figures;
using veltra::bench::Of;

namespace fs = std::filesystem;
using veltra::testing::ChildProgram;
using Clock = ChildProgram::Clock;
using namespace std::chrono_literals;

constexpr int kRounds = 3;
constexpr std::size_t kStation = 4;
constexpr std::size_t kHeader = 64;
constexpr std::size_t kRecord = 128;
constexpr std::size_t kFirstRecord = 160;
constexpr std::size_t kLastRecord = 383;  // a 28 KiB program area
// Not held by the device: veltra-load refuses a line another process holds
// open. Paced at the speed the port sets.
constexpr veltra::sim::DeviceOptions kPacedLine{.paceLine = true, .baud = 0, .holdLine = false};
constexpr auto kBoardPatience = 2min;
constexpr auto kEndPatience = 30s;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Ends one byte short of record 383, so that no padding record follows it.
std::string WriteImage(const fs::path& path) {
    std::string image(kHeader + kRecord * (kLastRecord + 1) - 1, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 % 253);
    image[kHeader + kRecord * kFirstRecord] = 0x23;
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return image;
}

std::shared_ptr<veltra::sim::RomBootloaderDevice> Board() {
    veltra::sim::RomOptions options;
    options.programTime = 3ms;
    options.eraseTime = 50ms;
    options.calibration = veltra::sim::RomBootloaderDevice::CalibrationPattern();
    return std::make_shared<veltra::sim::RomBootloaderDevice>(options);
}

// Whether `board` holds the image's program area, and its calibration when kept.
bool Flashed(const veltra::sim::RomBootloaderDevice& board, const std::string& image) {
    const std::size_t program = kHeader + kRecord * kFirstRecord;
    std::string area = image.substr(program);
    area.resize(kRecord * (kLastRecord + 1 - kFirstRecord), '\xFF');
    return board.Memory(0x9000, area.size()) == area && board.GoReceived();
}

struct Run {
    double seconds = 0;  // from the spawn until every port's "#1" line (a single run: its end)
    std::vector<std::string> problems;
};

// One veltra-load --loop --rom with a fresh board on each of `ports` ports,
// until every port has told its first board's end; then interrupted.
Run FlashOneBoardPerPort(std::size_t ports, const fs::path& file, const std::string& image) {
    std::vector<std::shared_ptr<veltra::sim::RomBootloaderDevice>> boards;
    std::vector<std::unique_ptr<veltra::sim::SimDevice>> lines;
    std::vector<std::string> args{"--loop", "--rom", "--baud", "115200"};
    std::vector<std::string> prefix(ports);
    for (std::size_t slot = 0; slot < ports; ++slot) {
        boards.push_back(Board());
        lines.push_back(std::make_unique<veltra::sim::SimDevice>(boards.back(), kPacedLine));
        args.push_back("--port");
        args.push_back(lines.back()->Path());
        if (ports > 1) prefix[slot] = lines.back()->Path() + ": ";
    }
    args.push_back(file.string());

    Run run;
    ChildProgram load(VELTRA_LOAD_PROGRAM, args, ChildProgram::Errors::WithOutput);
    std::vector<bool> ended(ports, false);
    const auto deadline = load.SpawnedAt() + kBoardPatience;
    for (std::size_t told = 0; told < ports;) {
        const std::optional<std::string> line = load.NextLine(deadline);
        if (!line) break;
        for (std::size_t slot = 0; slot < ports; ++slot) {
            if (ended[slot] || !line->starts_with(prefix[slot] + "#1 ")) continue;
            ended[slot] = true;
            ++told;
            if (!line->starts_with(prefix[slot] + "#1 -----Succefull------")) run.problems.push_back(*line);
            break;
        }
    }
    run.seconds = Since(load.SpawnedAt());
    load.Signal(SIGINT);
    const ChildProgram::End end = load.FinishBy(Clock::now() + kEndPatience);
    for (std::size_t slot = 0; slot < ports; ++slot) {
        if (!ended[slot] || !Flashed(*boards[slot], image)) {
            run.problems.push_back(lines[slot]->Path() + ": the board was not flashed whole");
        }
    }
    if (end.exitCode != 0) run.problems.push_back("exit code " + std::to_string(end.exitCode));
    if (!run.problems.empty()) run.problems.push_back("its output:\n" + load.Output());
    return run;
}

// One --rom run at 115200, with --keep-eeprom or without.
Run FlashOnce(bool keep, const fs::path& file, const std::string& image, const fs::path& backups) {
    auto board = Board();
    veltra::sim::SimDevice line(board, kPacedLine);
    std::vector<std::string> args{"--rom", "--baud", "115200", "--port", line.Path()};
    if (keep) args.insert(args.end(), {"--keep-eeprom", "--backup-dir", backups.string()});
    args.push_back(file.string());
    Run run;
    ChildProgram load(VELTRA_LOAD_PROGRAM, args, ChildProgram::Errors::WithOutput);
    const ChildProgram::End end = load.FinishBy(load.SpawnedAt() + kBoardPatience);
    run.seconds = end.wallSeconds;
    const std::string calibration = veltra::sim::RomBootloaderDevice::CalibrationPattern();
    if (end.exitCode != 0) run.problems.push_back("exit code " + std::to_string(end.exitCode));
    if (!Flashed(*board, image)) run.problems.push_back("the board was not flashed whole");
    if (keep && board->Memory(0x4000, calibration.size()) != calibration) {
        run.problems.push_back("the calibration was not kept");
    }
    if (!run.problems.empty()) run.problems.push_back("its output:\n" + load.Output());
    return run;
}

bool Report(const char* what, const Run& run) {
    std::printf("  %-13s %6.2f s\n", what, run.seconds);
    for (const std::string& problem : run.problems) std::printf("  %s: %s\n", what, problem.c_str());
    return run.problems.empty();
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / "veltra-rom-station-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "backups");
    const fs::path file = folder / "image.bin";
    const std::string image = WriteImage(file);

    bool whole = true;
    std::vector<double> station, keep;
    try {
        for (int round = 1; round <= kRounds; ++round) {
            std::printf("run %d\n", round);
            const Run alone = FlashOneBoardPerPort(1, file, image);
            whole = Report("alone", alone) && whole;
            const Run four = FlashOneBoardPerPort(kStation, file, image);
            whole = Report("four", four) && whole;
            station.push_back(four.seconds / alone.seconds);
            const Run plain = FlashOnce(false, file, image, folder / "backups");
            whole = Report("--rom", plain) && whole;
            const Run kept = FlashOnce(true, file, image, folder / "backups");
            whole = Report("--keep-eeprom", kept) && whole;
            keep.push_back(kept.seconds / plain.seconds);
            std::printf("  four / alone: %.3f   --keep-eeprom / without: %.3f (+%.2f s)\n", station.back(),
                        keep.back(), kept.seconds - plain.seconds);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        whole = false;
    }
    fs::remove_all(folder);
    if (station.empty()) return 1;
    const Figures ratio = Of(station);
    const Figures cost = Of(keep);
    std::printf("wall until #1, four ports / one port at 115200: min %.3f  median %.3f  (goal <= 1.05)\n", ratio.min,
                ratio.median);
    std::printf("--rom --keep-eeprom / --rom, one board at 115200: min %.3f  median %.3f\n", cost.min, cost.median);
    if (!whole) std::printf("FAILED: see the problems above\n");
    return whole ? 0 : 1;
}
