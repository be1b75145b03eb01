#include "firmware/StagedOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltra {
namespace {

constexpr std::size_t kPendingCapacity = 1 << 16;

// The file-creation mask can only be read by setting it; it is set back at once.
mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

StagedOutput::StagedOutput(std::string finalPath) : finalPath_(std::move(finalPath)) {}

StagedOutput::~StagedOutput() {
    if (fd_ >= 0) ::close(fd_);
    if (!tempPath_.empty() && !committed_) ::unlink(tempPath_.c_str());
}

bool StagedOutput::Fail() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return false;
}

bool StagedOutput::Create() {
    const auto slash = finalPath_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string{} : finalPath_.substr(0, slash + 1);
    std::string pattern = folder + ".veltra-XXXXXX";
    errno = 0;
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) return Fail();
    tempPath_ = pattern;
    // mkstemp makes the file readable by its owner only; the output is an
    // ordinary file of the folder.
    if (::fchmod(fd_, 0666 & ~CurrentUmask()) != 0) return Fail();
    pending_.reserve(kPendingCapacity);
    return true;
}

bool StagedOutput::WriteOut(const char* data, std::size_t size) {
    while (size > 0) {
        errno = 0;
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return Fail();
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool StagedOutput::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    if (pending_.size() + size > kPendingCapacity) {
        if (!WriteOut(pending_.data(), pending_.size())) return false;
        pending_.clear();
    }
    pending_.insert(pending_.end(), bytes, bytes + size);
    return true;
}

bool StagedOutput::Commit() {
    if (!WriteOut(pending_.data(), pending_.size())) return false;
    pending_.clear();
    errno = 0;
    // On the disk before it takes the output's name: after a power cut the
    // name holds the old file or the whole new one, never a short one.
    if (::fsync(fd_) != 0) return Fail();
    if (::close(std::exchange(fd_, -1)) != 0) return Fail();
    if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) return Fail();
    committed_ = true;
    return true;
}

}  // namespace veltra
