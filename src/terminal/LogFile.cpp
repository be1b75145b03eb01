#include "terminal/LogFile.h"

namespace veltra::terminal {
namespace {

// The file's append lock while it lives.
class AppendsLocked {
public:
    explicit AppendsLocked(std::intptr_t native) : native_(native), held_(platform::LockAppends(native)) {}
    ~AppendsLocked() {
        if (held_) platform::UnlockAppends(native_);
    }
    AppendsLocked(const AppendsLocked&) = delete;
    AppendsLocked& operator=(const AppendsLocked&) = delete;

private:
    std::intptr_t native_;
    bool held_;
};

}  // namespace

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
    // The end is looked at before every line: other programs append to the
    // file too, and may have torn a line since ours. The torn bytes stay as
    // they are; the '\n' that ends them goes in the same write as the line.
    // The lock goes before the wait for the disk: the others wait for a
    // write, never for our disk.
    {
        const AppendsLocked appends(native_);
        const bool torn = platform::EndsMidLine(native_);
        const std::string afterTorn = torn ? '\n' + line : std::string{};
        if (!platform::AppendWhole(native_, torn ? afterTorn : line, reason)) return false;
    }
    return platform::FlushToDisk(native_, reason);
}

}  // namespace veltra::terminal
