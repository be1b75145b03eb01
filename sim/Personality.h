#pragma once
// What the simulated device is: bytes in, replies out. SimDevice carries the
// bytes over the pseudo-terminal; a personality decides what to answer.
#include <chrono>
#include <vector>

#include "serial/ByteString.h"

namespace veltra::sim {

// One piece of a reply: sent after a pause, counted from the end of the piece
// before it (or, for the first piece, from the moment the reply was made).
struct Piece {
    ByteString bytes;
    std::chrono::milliseconds pauseBefore{0};
};

using Reply = std::vector<Piece>;  // empty: stay silent

class Personality {
public:
    virtual ~Personality() = default;
    // Called on the device thread with the bytes that just arrived, in order.
    virtual Reply OnBytes(const ByteString& bytes) = 0;
};

}  // namespace veltra::sim
