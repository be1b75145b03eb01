#pragma once
// A loopback plug on the line: every byte received goes straight back, in the
// order it came, unchanged. For proving the port itself (what one read
// returns, that every byte value passes both ways) with no protocol in the way.
#include "sim/Personality.h"

namespace veltra::sim {

class EchoDevice : public Personality {
public:
    Reply OnBytes(const ByteString& bytes) override;
};

}  // namespace veltra::sim
