#pragma once
// The file of --log: opened for appending (created when missing), one whole
// line at a time, each on the disk before the call returns. A crash or a
// power cut loses at most the line being written, and lines written from
// several threads never mix.
#include <cstdint>
#include <mutex>
#include <string>

namespace veltra::terminal {

class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens `path` for appending, creating it when missing; false with the
    // system's reason when it cannot.
    bool Open(const std::string& path, std::string& reason);
    bool IsOpen() const { return native_ != -1; }

    // Appends `line` (which ends with its '\n') in one write and waits until
    // it is on the disk; false with the reason when it is not. Safe to call
    // from several threads.
    bool Append(const std::string& line, std::string& reason);

private:
    std::mutex mutex_;
    std::intptr_t native_ = -1;  // a descriptor or a HANDLE; -1 when none is open
};

namespace platform {

// Each platform's part of LogFile: the native file opened for appending (-1
// when it cannot be), the line appended in one write, the wait for the disk,
// and the close.
std::intptr_t OpenForAppending(const std::string& path, std::string& reason);
bool AppendWhole(std::intptr_t native, const std::string& line, std::string& reason);
bool FlushToDisk(std::intptr_t native, std::string& reason);
void CloseLog(std::intptr_t native) noexcept;

}  // namespace platform

}  // namespace veltra::terminal
