// How the conversion into the scrambled firmware file compares with a plain
// copy of the same 64 MiB file on the same disk: both read it whole and write
// about as much, so the copy is the floor the conversion should stay near.
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
constexpr int kRounds = 5;

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
double BestSeconds(Work work) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

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

    const std::string copyCommand = "cp '" + input.string() + "' '" + (dir / "copy.bin").string() + "'";
    const double copySeconds = BestSeconds([&] {
        if (std::system(copyCommand.c_str()) != 0) std::fprintf(stderr, "cp failed\n");
    });

    veltra::testing::RecordingOperator op;
    veltra::FirmwareChoice choice;
    choice.path = input.string();
    choice.folder = dir.string() + "/";
    veltra::FillerSource filler;
    const double convertSeconds = BestSeconds([&] {
        if (!veltra::ConvertToScrambledFile(op, choice, filler)) std::fprintf(stderr, "conversion failed\n");
    });

    std::printf("file:        %zu MiB of mixed content in %s\n", kFileSize >> 20, dir.c_str());
    std::printf("cp:          %.3f s (best of %d)\n", copySeconds, kRounds);
    std::printf("conversion:  %.3f s (best of %d)\n", convertSeconds, kRounds);
    std::printf("ratio:       %.2f\n", convertSeconds / copySeconds);

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return op.messages.empty() ? 0 : 1;
}
