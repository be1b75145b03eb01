#pragma once
// A device that follows a script: for a request, answer these bytes, in these
// pieces, with these pauses, or stay silent. For tests that need exact control
// over what comes back and when.
#include <cstddef>
#include <mutex>
#include <vector>

#include "sim/Personality.h"

namespace veltra::sim {

class ScriptedDevice : public Personality {
public:
    // Steps run in order: step i consumes the next request.size() bytes received,
    // notes whether they equal `request`, then sends `reply` (piece by piece, each
    // after its pause). A step with an empty request runs on the next arrival
    // without consuming anything. After the last step the device stays silent.
    ScriptedDevice& On(ByteString request, Reply reply);

    std::vector<bool> Matches() const;  // one entry per step that has run

    Reply OnBytes(const ByteString& bytes) override;

private:
    struct Step {
        ByteString request;
        Reply reply;
    };

    mutable std::mutex mutex_;
    std::vector<Step> steps_;
    std::vector<bool> matches_;
    ByteString pending_;  // bytes of the current step's request received so far
};

}  // namespace veltra::sim
