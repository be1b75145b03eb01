// The port over a real serial driver of the kernel, in the virtual machine:
// the port named by VELTRA_VM_PORT (ttyUSB0: QEMU's FTDI through ftdi_sio;
// COM2: an emulated 16550 through the 8250 driver), with a loopback plug
// (veltra-sim --echo) at the host's end of the line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "serial/SerialPort.h"
#include "support/PortBytes.h"
#include "support/RecordingOperator.h"

namespace veltra {
namespace {

using namespace std::chrono_literals;
using testing::EveryByteValue;
using testing::ReadBack;
using Clock = std::chrono::steady_clock;

// Long enough for the loopback to send everything back through the virtual
// machine; the reads after it then find all of it waiting.
constexpr auto kEchoArrives = 500ms;

std::string PortName() {
    const char* name = std::getenv("VELTRA_VM_PORT");
    return name ? name : "";
}

ByteString Pattern(std::size_t count, unsigned seed = 7) {
    ByteString s;
    for (std::size_t i = 0; i < count; ++i) AppendByte(s, static_cast<std::uint8_t>((i * 131 + seed) % 251));
    return s;
}

class DriverPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(PortName().empty()) << "VELTRA_VM_PORT names the port under test";
        ASSERT_TRUE(port.OpenPort(PortName(), kDeviceLineSettings)) << Shown();
        ASSERT_TRUE(op.messages.empty()) << Shown();
        // Whatever an earlier user of the line left on its way.
        std::this_thread::sleep_for(kEchoArrives);
        while (!port.ReadPort().empty()) {
        }
    }
    std::string Shown() const { return op.Shown(); }

    testing::RecordingOperator op;
    SerialPort port{op};
};

TEST_F(DriverPort, ThreeHundredBytesComeBackAs255Then45) {
    const ByteString sent = Pattern(300);
    EXPECT_EQ(port.WritePort(sent), 0) << "a write of more than 255 bytes goes in pieces and counts nothing";
    std::this_thread::sleep_for(kEchoArrives);
    const ByteString first = port.ReadPort();
    const ByteString second = port.ReadPort();
    EXPECT_EQ(first.size(), 255u);
    EXPECT_EQ(second.size(), 45u);
    EXPECT_EQ(first + second, sent);
}

// A burst comes back in one read, however the driver hands it over (the
// FTDI in USB packets, the 16550 by its FIFO), and the silence after it ends
// that read: the next burst comes in a read of its own.
TEST_F(DriverPort, EachBurstComesBackInOneReadEndedByTheSilenceAfterIt) {
    for (const ByteString& burst : {Pattern(200, 1), Pattern(30, 2)}) {
        EXPECT_EQ(port.WritePort(burst), static_cast<std::int16_t>(burst.size()));
        EXPECT_EQ(port.ReadPort(), burst);
    }
}

// A silent line: the read ends empty after its total deadline (256 ms). The
// bounds only prove that it waits and that it ends.
TEST_F(DriverPort, ReadOnASilentLineReturnsNothingAfterItsDeadline) {
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadPort(), "");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 5s);
}

// No translation either way: NUL, XON/XOFF, CR and LF, 0x7F, 0xFF all pass.
TEST_F(DriverPort, EveryByteValuePassesBothWaysUnchanged) {
    const ByteString all = EveryByteValue();
    EXPECT_EQ(port.WritePort(all.substr(0, 255)), 255);
    EXPECT_EQ(port.WritePort(all.substr(255)), 1);
    EXPECT_EQ(ReadBack(port, all.size()), all);
    EXPECT_EQ(port.ReadPort(), "") << "nothing more may come back";
}

// The flush waits until the driver has sent everything: it returns, and
// what it waited for is complete at the far end.
TEST_F(DriverPort, FlushReturnsOnceTheBytesAreOut) {
    const ByteString sent = Pattern(255, 5);
    EXPECT_EQ(port.WritePort(sent), 255);
    const auto start = Clock::now();
    port.FlushPort();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(ReadBack(port, sent.size()), sent);
}

}  // namespace
}  // namespace veltra
