#pragma once
// The device's sending side: reply pieces go out in order, each after its
// pause, and with line pacing each byte no earlier than its line time allows.
// It never sleeps itself: it says when it next has work, and the device loop
// waits for that moment together with everything else.
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

#include "sim/Personality.h"

namespace veltra::sim {

class ReplySender {
public:
    using Clock = std::chrono::steady_clock;

    // byteTime zero: no pacing, a piece goes out whole once its pause is over.
    explicit ReplySender(Clock::duration byteTime);

    // For replies queued from now on; those queued already keep the time they
    // were queued with, as bytes already on their way keep their speed.
    void SetByteTime(Clock::duration byteTime) { byteTime_ = byteTime; }

    // `heard`: when the request that brought the reply was through; on an
    // idle line the reply's time counts from there.
    void Queue(const Reply& reply, Clock::time_point heard);

    // When the next write is due; none while idle or while the pty has no room.
    std::optional<Clock::time_point> NextDue() const;
    bool WaitingForRoom() const { return waitingForRoom_; }
    void RoomAvailable() { waitingForRoom_ = false; }

    enum class Result { Ok, LineGone };
    // Writes whatever is due by `now` to the non-blocking descriptor fd.
    Result Pump(int fd, Clock::time_point now);

private:
    struct Queued {
        Piece piece;
        Clock::duration byteTime;
    };

    void BeginHead();
    Clock::time_point DueOf(std::size_t index) const;  // when byte `index` of the head may go out

    Clock::duration byteTime_;
    std::deque<Queued> pieces_;
    Clock::time_point lineFree_{};   // end of the last piece, or when an idle sender got work
    Clock::time_point headStart_{};  // the head piece's pause is over
    std::size_t headSent_ = 0;
    bool waitingForRoom_ = false;
};

}  // namespace veltra::sim
