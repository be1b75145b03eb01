#pragma once
// The far end of the fake port: the device's replies come from the fuzz input,
// and everything the tool writes is kept together with what the device handed
// back before the next write, so the oracles can judge each frame by its answer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "serial/ByteString.h"

namespace veltra::fuzz {

// One write of the tool and the bytes every read handed out after it, up to
// the next write.
struct Turn {
    ByteString written;
    ByteString answered;
};

// Replies are framed in the input as a length byte followed by that many
// bytes, one piece per read. A length of 0 is a read that finds silence; a
// piece cut short by the end of the input hands out what is left; once the
// input is used up every read finds silence.
class FakeLine {
public:
    // A new run: the replies come from `replies`, which must outlive the run.
    void Start(std::span<const std::uint8_t> replies);

    // What the next read of at most `room` bytes finds; returns the count.
    // A piece longer than `room` is handed out over several reads.
    std::size_t Read(std::uint8_t* buffer, std::size_t room);
    void Write(const std::uint8_t* bytes, std::size_t count);
    // Drops what is left of the piece being handed out, unread: the bytes
    // that had arrived when the tool purged its input.
    void DropPiece();

    const std::vector<Turn>& Turns() const { return turns_; }

private:
    std::span<const std::uint8_t> input_;
    std::size_t pieceLeft_ = 0;  // bytes of the current piece not yet handed out
    std::vector<Turn> turns_;
};

// The one line the fake platform talks to.
FakeLine& TheLine();

}  // namespace veltra::fuzz
