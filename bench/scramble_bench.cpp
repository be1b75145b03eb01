// How the conversion into the scrambled firmware file compares with a plain
// copy of the same 64 MiB file on the same disk, made as durable as the
// conversion makes its output: `cp in copy && sync copy` (sync with a file
// name fsyncs that file). Both read the file and write about as much, and both
// wait for the disk, so the copy is the floor the conversion should stay near.
//
// One run alternates the two in rounds, copy then conversion, in one temporary
// folder, after one round that is not counted (it creates the two outputs, so
// that every counted round replaces an older one, as in use). The copy's
// figure includes starting the shell, cp and sync: a few milliseconds.
// Prints min and median of each, the ratio of the medians, and the min and
// median of the ratios of the rounds, which follow a busy machine together.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/FillerSource.h"
#include "firmware/ScrambledFile.h"
#include "tests/support/RecordingOperator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileSize = 64u << 20;
constexpr int kRounds = 9;

// Blocks of code-like bytes, erased 0xFF runs (which become filler), zeros and
// noise, in a fixed pseudo-random order.
void WriteMixedFile(const fs::path& path) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(64);
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (std::size_t written = 0; written < kFileSize; written += block.size()) {
        switch (next() >> 30) {
            case 0: std::fill(block.begin(), block.end(), '\xFF'); break;
            case 1: std::fill(block.begin(), block.end(), '\0'); break;
            case 2:
                for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((written + i * 7) & 0x7F);
                break;
            default:
                for (auto& b : block) b = static_cast<char>(next() >> 24);
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

template <typename Work>
double Seconds(Work work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Min(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

}  // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "veltra-scramble-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    const fs::path input = dir / "firmware.bin";
    WriteMixedFile(input);

    const fs::path copy = dir / "copy.bin";
    const std::string copyCommand = "cp -- '" + input.string() + "' '" + copy.string() + "' && sync -- '" +
                                    copy.string() + "'";
    veltra::testing::RecordingOperator op;
    veltra::FirmwareChoice choice;
    choice.path = input.string();
    choice.folder = dir.string() + "/";
    veltra::FillerSource filler;
    bool failed = false;
    const auto copyOnce = [&] {
        if (std::system(copyCommand.c_str()) != 0) failed = true;
    };
    const auto convertOnce = [&] {
        if (!veltra::ConvertToScrambledFile(op, choice, filler)) failed = true;
    };

    copyOnce();
    convertOnce();
    std::vector<double> copySeconds, convertSeconds, ratios;
    for (int round = 0; round < kRounds && !failed; ++round) {
        copySeconds.push_back(Seconds(copyOnce));
        convertSeconds.push_back(Seconds(convertOnce));
        ratios.push_back(convertSeconds.back() / copySeconds.back());
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (failed) {
        std::fprintf(stderr, "%s\n", op.messages.empty() ? "cp or sync failed" : op.messages.front().text.c_str());
        return 1;
    }

    std::printf("file:          %zu MiB of mixed content in %s, %d rounds\n", kFileSize >> 20, dir.c_str(), kRounds);
    std::printf("cp + fsync:    min %.4f s, median %.4f s\n", Min(copySeconds), Median(copySeconds));
    std::printf("conversion:    min %.4f s, median %.4f s\n", Min(convertSeconds), Median(convertSeconds));
    std::printf("ratio:         of medians %.2f; per round min %.2f, median %.2f\n",
                Median(convertSeconds) / Median(copySeconds), Min(ratios), Median(ratios));
    return 0;
}
