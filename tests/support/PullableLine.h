#pragma once
// A device whose adapter can be pulled out: the device's loader at the far end
// of a pseudo-terminal, on a thread of its own, that hangs the line up (closes
// the master side, as a pulled USB adapter hangs up its terminal) once the
// bytes received reach a count. The bytes that reach it are never answered.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "sim/LoaderDevice.h"
#include "sim/PtyPair.h"

namespace veltra::testing {

// Bytes on the line before the first byte of block frame `frame` (1-based),
// for a download that wakes the loader with one 0x7F.
constexpr std::size_t BytesBeforeFrame(std::size_t frame) { return 1 + (frame - 1) * sim::LoaderDevice::kFrameSize; }

class PullableLine {
public:
    PullableLine(std::shared_ptr<sim::LoaderDevice> loader, std::size_t pullAtByte)
        : loader_(std::move(loader)), pty_(std::make_unique<sim::PtyPair>()), path_(pty_->SlavePath()) {
        // Another process opens the line in some tests: it must be free.
        pty_->ReleaseSlave();
        if (::pipe2(stop_, O_CLOEXEC) != 0) stop_[0] = stop_[1] = -1;
        thread_ = std::thread([this, pullAtByte] { Play(pullAtByte); });
    }
    ~PullableLine() {
        if (stop_[1] >= 0) (void)::write(stop_[1], "x", 1);
        thread_.join();
        for (int fd : stop_) {
            if (fd >= 0) ::close(fd);
        }
    }
    PullableLine(const PullableLine&) = delete;
    PullableLine& operator=(const PullableLine&) = delete;

    const std::string& Path() const { return path_; }
    bool Pulled() const { return pulled_; }

private:
    void Play(std::size_t pullAtByte) {
        std::size_t received = 0;
        const int master = pty_->MasterFd();
        for (;;) {
            pollfd fds[2] = {{master, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            char buffer[512];
            const ssize_t n = (fds[0].revents & POLLIN) != 0 ? ::read(master, buffer, sizeof buffer) : -1;
            if (n <= 0) {
                // Nobody has the line open (yet, or between two opens): the
                // master goes on reporting the hang-up, so rest before looking again.
                pollfd stop{stop_[0], POLLIN, 0};
                if (::poll(&stop, 1, 10) > 0) return;
                continue;
            }
            const auto count = static_cast<std::size_t>(n);
            if (received + count > pullAtByte) {
                // What arrived before the pull still reaches the device.
                Answer(ByteString(buffer, pullAtByte - received));
                pty_.reset();
                pulled_ = true;
                return;
            }
            received += count;
            Answer(ByteString(buffer, count));
        }
    }
    void Answer(const ByteString& bytes) {
        if (bytes.empty()) return;
        for (const auto& piece : loader_->OnBytes(bytes)) {
            (void)::write(pty_->MasterFd(), piece.bytes.data(), piece.bytes.size());
        }
    }

    std::shared_ptr<sim::LoaderDevice> loader_;
    std::unique_ptr<sim::PtyPair> pty_;
    std::string path_;
    int stop_[2] = {-1, -1};
    std::atomic<bool> pulled_{false};
    std::thread thread_;
};

}  // namespace veltra::testing
