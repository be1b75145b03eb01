#pragma once
// Publishes the simulated device under a device name that the program's port
// list reaches, or at any path of the user's choice (a symlink to the pty
// slave), and puts everything back when it ends. A device node already there
// is moved aside to "<path>.veltra-sim-saved" for the time being; anything
// else already there is left alone and refused.
#include <string>

namespace veltra::sim {

class DeviceLink {
public:
    // Throws std::runtime_error, with a message for the person at the console,
    // when the link cannot be made; nothing has changed then.
    DeviceLink(std::string linkPath, std::string target);
    ~DeviceLink();  // Restore()
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Removes the link and puts the saved node back. Returns what could not be
    // put back ("" when all is well); a second call does nothing.
    std::string Restore();

    const std::string& SavedPath() const { return savedPath_; }
    bool MovedAside() const { return movedAside_; }

private:
    std::string linkPath_;
    std::string target_;
    std::string savedPath_;
    bool movedAside_ = false;
    bool linked_ = false;
};

}  // namespace veltra::sim
