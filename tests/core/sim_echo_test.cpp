#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "serial/SerialPort.h"
#include "sim/EchoDevice.h"
#include "support/PortBytes.h"
#include "support/SimLink.h"

namespace veltra::sim {
namespace {

using namespace std::chrono_literals;
using testing::EveryByteValue;
using testing::ReadBack;
using testing::SimLink;

// The loopback plug as the program in another process finds it: the device
// does not hold its own line. Each arrival comes back whole, in order, every
// byte value unchanged, and nothing else comes.
TEST(EchoDevice, SendsBackEveryByteAsItCameOverTheRealPty) {
    auto echo = std::make_shared<EchoDevice>();
    SimLink link(echo, {}, DeviceOptions{.holdLine = false});
    ASSERT_TRUE(link.opened);

    const ByteString all = EveryByteValue();
    link.port.WritePort(all);  // 255 + 1 bytes: two arrivals at least
    EXPECT_EQ(ReadBack(link.port, all.size()), all);

    link.port.WritePort("first ");
    link.port.WritePort("second");
    EXPECT_EQ(ReadBack(link.port, 12), "first second");

    EXPECT_EQ(link.port.ReadPort(), "") << "a loopback adds nothing of its own";
    EXPECT_EQ(link.device->Received(), all + "first second");
}

}  // namespace
}  // namespace veltra::sim
