#pragma once
// The program's port opened on a fresh simulated device over a real
// pseudo-terminal, with a recording operator.
#include <gtest/gtest.h>

#include <memory>

#include "serial/SerialPort.h"
#include "sim/SimDevice.h"
#include "support/RecordingOperator.h"

namespace veltra::testing {

// Shorter reads than the product's, for the exchanges that wait out all eight
// reads; the semantics stay the same.
inline constexpr ReadTimeouts kQuickReads{10, 40};

struct SimLink {
    explicit SimLink(std::shared_ptr<sim::Personality> personality, ReadTimeouts timeouts = {},
                     sim::DeviceOptions options = {})
        : device(std::make_unique<sim::SimDevice>(std::move(personality), options)) {
        port.SetDeviceNameMap([path = device->Path()](const std::string&) { return path; });
        port.SetReadTimeouts(timeouts);
        opened = port.OpenPort("COM3:", "19200,n,8,1");
        EXPECT_TRUE(opened) << "cannot open the simulated device";
    }

    RecordingOperator op;
    SerialPort port{op};
    std::unique_ptr<sim::SimDevice> device;
    ByteString wrs;
    bool opened = false;
};

}  // namespace veltra::testing
