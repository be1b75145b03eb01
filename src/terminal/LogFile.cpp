#include "terminal/LogFile.h"

namespace veltra::terminal {

LogFile::~LogFile() {
    if (native_ != -1) platform::CloseLog(native_);
}

bool LogFile::Open(const std::string& path, std::string& reason) {
    std::lock_guard lock(mutex_);
    if (native_ != -1) platform::CloseLog(native_);
    native_ = platform::OpenForAppending(path, reason);
    return native_ != -1;
}

bool LogFile::Append(const std::string& line, std::string& reason) {
    // Held across the wait for the disk too: a line is on the disk before the
    // next one is written, so a crash never leaves a later line without an
    // earlier one.
    std::lock_guard lock(mutex_);
    if (native_ == -1) {
        reason = "the log is not open";
        return false;
    }
    return platform::AppendWhole(native_, line, reason) && platform::FlushToDisk(native_, reason);
}

}  // namespace veltra::terminal
