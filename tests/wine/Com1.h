#pragma once
// What the Windows tests share. The port under test is COM1: the Wine prefix
// maps it to the pseudo-terminal of a simulated device, a Linux process that
// scripts/wine-peer.sh starts for each ctest test with the personality that
// test needs. So each ctest test runs only the test suite its device plays
// (--gtest_filter); the program run whole would meet the wrong devices.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "serial/ByteString.h"
#include "serial/SerialPort.h"
#include "support/RecordingOperator.h"

namespace veltra::wine {

inline const std::string kPort = "COM1:";
inline const std::string kSettings = "19200,n,8,1";

// True when the program runs under Wine rather than on Windows itself.
bool RunningUnderWine();

// Varied bytes, every value among them once the count reaches 251.
inline ByteString Pattern(std::size_t count, unsigned seed = 7) {
    ByteString s;
    for (std::size_t i = 0; i < count; ++i) AppendByte(s, static_cast<std::uint8_t>((i * 131 + seed) % 251));
    return s;
}

// The program's port on COM1 with a recording operator, as the window holds it.
struct Com1 {
    explicit Com1(ReadTimeouts timeouts = {}) { port.SetReadTimeouts(timeouts); }
    bool Open() { return port.OpenPort(kPort, kSettings); }
    std::string Shown() const { return op.Shown(); }

    testing::RecordingOperator op;
    SerialPort port{op};
    ByteString wrs;
};

// A folder of its own under the system's temporary folder, removed with all
// it holds at the end. Paths go to the core in UTF-8, as the window gives them.
class TempFolder {
public:
    explicit TempFolder(const std::u8string& name = u8"veltra-wine");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes the file (replacing one there) and gives its path in UTF-8.
    std::string Write(const std::filesystem::path& name, const ByteString& bytes) const;

private:
    std::filesystem::path path_;
};

std::string Utf8(const std::filesystem::path& path);
ByteString ReadAll(const std::filesystem::path& path);
// Writes the file (replacing one there) and gives its path in UTF-8.
std::string WriteAll(const std::filesystem::path& file, const ByteString& bytes);

}  // namespace veltra::wine
