#include "sim/ReplySender.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace veltra::sim {

ReplySender::ReplySender(Clock::duration byteTime) : byteTime_(byteTime) {}

void ReplySender::Queue(const Reply& reply, Clock::time_point heard) {
    if (reply.empty()) return;
    const bool wasIdle = pieces_.empty();
    if (wasIdle) lineFree_ = heard;
    for (const Piece& piece : reply) pieces_.push_back({piece, byteTime_});
    if (wasIdle) BeginHead();
}

void ReplySender::BeginHead() {
    headStart_ = lineFree_ + pieces_.front().piece.pauseBefore;
    headSent_ = 0;
}

ReplySender::Clock::time_point ReplySender::DueOf(std::size_t index) const {
    const Clock::duration byteTime = pieces_.front().byteTime;
    if (byteTime == Clock::duration::zero()) return headStart_;
    // A byte is there for the reader once its last bit is on the line.
    return headStart_ + byteTime * static_cast<Clock::rep>(index + 1);
}

std::optional<ReplySender::Clock::time_point> ReplySender::NextDue() const {
    if (pieces_.empty() || waitingForRoom_) return std::nullopt;
    return DueOf(headSent_);
}

ReplySender::Result ReplySender::Pump(int fd, Clock::time_point now) {
    while (!pieces_.empty() && !waitingForRoom_) {
        const ByteString& bytes = pieces_.front().piece.bytes;
        const Clock::duration byteTime = pieces_.front().byteTime;
        if (headSent_ < bytes.size()) {
            if (DueOf(headSent_) > now) return Result::Ok;
            std::size_t count = bytes.size() - headSent_;
            if (byteTime != Clock::duration::zero()) {
                const auto dueByNow = static_cast<std::size_t>((now - headStart_) / byteTime);
                count = std::clamp<std::size_t>(dueByNow - headSent_, 1, count);
            }
            const ssize_t written = ::write(fd, bytes.data() + headSent_, count);
            if (written < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    waitingForRoom_ = true;
                    return Result::Ok;
                }
                return Result::LineGone;
            }
            headSent_ += static_cast<std::size_t>(written);
            if (static_cast<std::size_t>(written) < count) waitingForRoom_ = true;
            continue;
        }
        // The head piece is out: the next pause counts from the end of its line time.
        if (bytes.empty()) {
            lineFree_ = headStart_;
        } else if (byteTime == Clock::duration::zero()) {
            lineFree_ = std::max(headStart_, now);
        } else {
            lineFree_ = DueOf(bytes.size() - 1);
        }
        pieces_.pop_front();
        if (!pieces_.empty()) BeginHead();
    }
    return Result::Ok;
}

}  // namespace veltra::sim
