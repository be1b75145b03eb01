#pragma once
// What the download benchmarks share: the firmware file they send, the
// protocol's floor they are measured against, the status line of a whole
// download and what the device has taken then, and the CPU time of the
// calling thread.
#include <ctime>

#include <cstddef>
#include <fstream>
#include <string>

namespace veltra::bench {

inline constexpr std::size_t kBenchFileSize = 32 * 1024;
inline constexpr int kBenchBaud = 19200;

// Bytes that differ from block to block, so that no two frames are alike.
inline std::string BenchFirmware(std::size_t size = kBenchFileSize) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 % 253);
    return content;
}

inline void WriteBenchFirmware(const std::string& path, std::size_t size = kBenchFileSize) {
    const std::string content = BenchFirmware(size);
    std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
}

// The least a download of `blocks` frames can take: each frame (67 bytes) and
// its reply (4 bytes) on the line, 10 bits a byte, plus the 20 ms of silence
// that ends the read of the reply.
inline double FloorSeconds(std::size_t blocks) {
    const double byteTime = 10.0 / kBenchBaud;
    return static_cast<double>(blocks) * ((67 + 4) * byteTime + 0.020);
}

// The last status line of a download of `size` bytes that went through whole.
inline std::string WholeDownloadStatus(std::size_t size) {
    return "Successful - " + std::to_string((size / 64 + 1) * 64) + " Bytes";
}

// What the loader has taken after a whole download of `content`: the file,
// then 0xFF to the end of the closing block. A file of whole blocks is closed
// by a block of 0xFF alone, which the status line above counts too.
inline std::string WholeDownloadImage(std::string content) {
    content.resize((content.size() / 64 + 1) * 64, '\xFF');
    return content;
}

inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace veltra::bench
