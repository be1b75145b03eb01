#pragma once
// The window on a simulated device over a pseudo-terminal: the device comes
// up first, then the window opens its port through a real click.
#include <memory>

#include "sim/SimDevice.h"
#include "window/support/PortWindow.h"

struct SimulatedDevice {
    veltra::sim::SimDevice device;
};

class SimWindow : public SimulatedDevice, public PortWindow {
public:
    explicit SimWindow(std::shared_ptr<veltra::sim::Personality> personality,
                       veltra::ReadTimeouts timeouts = {}, veltra::sim::DeviceOptions options = {})
        : SimulatedDevice{veltra::sim::SimDevice(std::move(personality), options)},
          PortWindow(device.Path(), timeouts) {}
};
