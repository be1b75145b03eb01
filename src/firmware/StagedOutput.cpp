#include "firmware/StagedOutput.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace veltra {
namespace {

constexpr std::size_t kPendingCapacity = 1 << 16;
// Temporary names are at most this long, and never longer than the final
// name, so that any folder that can hold the final name can hold them too.
constexpr std::size_t kTempNameMax = 16;
constexpr int kTempNameAttempts = 100;

// Past a file-size limit the system would end the whole program with SIGXFSZ,
// leaving the temporary file behind; ignored, the write fails with EFBIG and is
// reported like a full disk.
void IgnoreFileSizeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

// A hidden name of `length` characters: a dot, then letters and digits.
std::string TempName(std::size_t length, std::mt19937& random) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string name(length, '.');
    for (std::size_t i = length > 1 ? 1 : 0; i < length; ++i) name[i] = kChars[pick(random)];
    return name;
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
    IgnoreFileSizeSignal();
    const auto slash = finalPath_.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string folder = finalPath_.substr(0, nameStart);
    const std::size_t nameLength = std::clamp<std::size_t>(finalPath_.size() - nameStart, 1, kTempNameMax);
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::string path = folder + TempName(nameLength, random);
        errno = 0;
        // Created new, never an existing file; 0666 less the umask, like any
        // ordinary file of the folder.
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd_ >= 0) {
            tempPath_ = std::move(path);
            pending_.reserve(kPendingCapacity);
            return true;
        }
        if (errno != EEXIST) return Fail();
    }
    return Fail();
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
