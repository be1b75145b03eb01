#pragma once
// A device behind an adapter that can be pulled out and plugged back in: the
// program opens a fixed name (a link, as udev's /dev/serial links are), which
// points at the pseudo-terminal of the adapter plugged in now. A pull closes
// that pseudo-terminal (the program's port hangs up, as a pulled USB adapter's
// does) and removes the name; a plug gives the same device a new one under
// the same name. The device itself (what sits on the line, in the middle of a
// frame or not) lives on across the pull, as a real device does.
#include <filesystem>
#include <memory>
#include <string>

#include "sim/SimDevice.h"
#include "support/LoadRun.h"

namespace veltra::testing {

class ReplugLine {
public:
    ReplugLine(std::filesystem::path name, std::shared_ptr<sim::Personality> device, sim::DeviceOptions options = {})
        : name_(std::move(name)), device_(std::move(device)), options_(options) {
        Plug();
    }
    ~ReplugLine() { Pull(); }
    ReplugLine(const ReplugLine&) = delete;
    ReplugLine& operator=(const ReplugLine&) = delete;

    // The name the program is given; it stays while the adapter moves.
    std::string Name() const { return name_.string(); }
    // The pseudo-terminal plugged in now; empty while pulled.
    std::string Adapter() const { return adapter_ ? adapter_->Path() : std::string{}; }
    sim::SimDevice* Plugged() const { return adapter_.get(); }

    void Pull() {
        std::error_code ignored;
        std::filesystem::remove(name_, ignored);
        adapter_.reset();
    }
    void Plug() {
        adapter_ = LineFor(device_, options_);
        std::filesystem::create_symlink(adapter_->Path(), name_);
    }

private:
    std::filesystem::path name_;
    std::shared_ptr<sim::Personality> device_;
    sim::DeviceOptions options_;
    std::unique_ptr<sim::SimDevice> adapter_;
};

}  // namespace veltra::testing
