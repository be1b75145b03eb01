#pragma once
// The file of --log: opened for appending (created when missing), one whole
// line at a time, each on the disk before the call returns. A crash or a
// power cut loses at most the line being written, and lines written from
// several threads, or by several of our programs to one file, never mix. A
// last line left torn, by such a loss, a full disk or another program
// appending to the same file, is ended before the next line, which thus
// starts a line of its own.
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

    // Appends `line` (which ends with its '\n') in one write, after a '\n'
    // when the file ends in the middle of a line, and waits until it is on
    // the disk; false with the reason when it is not. Safe to call from
    // several threads.
    bool Append(const std::string& line, std::string& reason);

private:
    std::mutex mutex_;
    std::intptr_t native_ = -1;  // a descriptor or a HANDLE; -1 when none is open
};

namespace platform {

// Each platform's part of LogFile: the native file opened for appending (-1
// when it cannot be; a regular file also for reading, where it may be read),
// the lock that our programs appending to one file take in turn, whether it
// ends in the middle of a line, the line appended in one write, the wait for
// the disk, and the close.
std::intptr_t OpenForAppending(const std::string& path, std::string& reason);
// Waits for the file's append lock, taken by every program of ours that
// appends to the file while it looks at the last byte and writes its line:
// the line that another one is writing then is never taken for a torn one.
// Other programs do not know it. False when it cannot be had; the line goes
// without it then.
bool LockAppends(std::intptr_t native);
void UnlockAppends(std::intptr_t native);
// True when the file is a regular file whose last byte is no '\n'; false for
// an empty file, for what is no regular file (a pipe, a terminal, /dev/null)
// and when its last byte cannot be read.
bool EndsMidLine(std::intptr_t native);
bool AppendWhole(std::intptr_t native, const std::string& line, std::string& reason);
bool FlushToDisk(std::intptr_t native, std::string& reason);
void CloseLog(std::intptr_t native) noexcept;

}  // namespace platform

}  // namespace veltra::terminal
