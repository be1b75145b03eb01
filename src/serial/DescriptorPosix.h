#pragma once
// A file descriptor owned for one scope: closed when it goes, on every way out.
#include <unistd.h>

namespace veltra::posix {

class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    bool Valid() const noexcept { return fd_ >= 0; }
    int Get() const noexcept { return fd_; }

private:
    int fd_;
};

}  // namespace veltra::posix
