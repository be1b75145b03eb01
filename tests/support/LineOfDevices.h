#pragma once
// Whatever is on the line right now: nobody (silence) or one device, which
// the test puts on and takes off as the production line would.
#include <memory>
#include <mutex>

#include "sim/Personality.h"

namespace veltra::testing {

class LineOfDevices : public sim::Personality {
public:
    void Put(std::shared_ptr<sim::Personality> device) {
        std::lock_guard lock(mutex_);
        device_ = std::move(device);
    }
    sim::Reply OnBytes(const ByteString& bytes) override {
        std::lock_guard lock(mutex_);
        return device_ ? device_->OnBytes(bytes) : sim::Reply{};
    }

private:
    std::mutex mutex_;
    std::shared_ptr<sim::Personality> device_;
};

}  // namespace veltra::testing
