#include "serial/PortPlatform.h"

#include <utility>

namespace veltra {

PortHandle::~PortHandle() {
    if (Valid()) platform::CloseHandle(*this);
}

PortHandle::PortHandle(PortHandle&& other) noexcept
    : native_(other.Release()), timeouts_(other.timeouts_) {}

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept {
    if (this != &other) {
        if (Valid()) platform::CloseHandle(*this);
        timeouts_ = other.timeouts_;
        native_ = other.Release();
    }
    return *this;
}

platform::NativeHandle PortHandle::Release() noexcept {
    return std::exchange(native_, platform::kInvalidHandleValue);
}

}  // namespace veltra
