#include "sim/ScriptedDevice.h"

#include <utility>

namespace veltra::sim {

ScriptedDevice& ScriptedDevice::On(ByteString request, Reply reply) {
    std::lock_guard lock(mutex_);
    steps_.push_back({std::move(request), std::move(reply)});
    return *this;
}

std::vector<bool> ScriptedDevice::Matches() const {
    std::lock_guard lock(mutex_);
    return matches_;
}

Reply ScriptedDevice::OnBytes(const ByteString& bytes) {
    std::lock_guard lock(mutex_);
    Reply reply;
    if (matches_.size() == steps_.size()) return reply;  // the script is over
    pending_ += bytes;
    while (matches_.size() < steps_.size()) {
        const Step& step = steps_[matches_.size()];
        if (pending_.size() < step.request.size()) break;
        matches_.push_back(pending_.compare(0, step.request.size(), step.request) == 0);
        pending_.erase(0, step.request.size());
        reply.insert(reply.end(), step.reply.begin(), step.reply.end());
    }
    return reply;
}

}  // namespace veltra::sim
