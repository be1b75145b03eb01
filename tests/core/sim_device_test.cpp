#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "sim/ScriptedDevice.h"
#include "sim/SimDevice.h"

namespace veltra::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous bound for anything that must merely end, never a measurement.
constexpr auto kPatience = 5s;

// The program's end of the line, opened the way a serial device is opened.
class Line {
public:
    explicit Line(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~Line() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    void Write(const ByteString& bytes) const {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `count` bytes are in or `within` has passed.
    ByteString Read(std::size_t count, std::chrono::milliseconds within = kPatience) const {
        ByteString got;
        const auto deadline = Clock::now() + within;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buffer[512];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    bool Readable() const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

private:
    int fd_;
};

TEST(ScriptedDevice, AssemblesRequestsByCountAndAnswersInOrder) {
    ScriptedDevice script;
    script.On("AB", {{"1", 0ms}}).On("CDE", {{"2", 0ms}, {"3", 40ms}}).On("F", {});

    // A request split over arrivals is answered once whole.
    EXPECT_TRUE(script.OnBytes("A").empty());
    Reply reply = script.OnBytes("B");
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].bytes, "1");

    // Two requests in one arrival: both steps run, the wrong one noted, the
    // replies queued in step order with their pauses kept.
    reply = script.OnBytes("CXEF");
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[0].bytes, "2");
    EXPECT_EQ(reply[1].bytes, "3");
    EXPECT_EQ(reply[1].pauseBefore, 40ms);
    EXPECT_EQ(script.Matches(), (std::vector<bool>{true, false, true}));

    // The script is over: silence.
    EXPECT_TRUE(script.OnBytes("AB").empty());
    EXPECT_EQ(script.Matches().size(), 3u);
}

TEST(SimDevice, ScriptedRepliesCrossTheRealPtyInPiecesAfterTheirPauses) {
    auto script = std::make_shared<ScriptedDevice>();
    const ByteString binary("\x00\x7F\x80\xFF\x0D\x0A", 6);  // no byte may be altered by the line
    script->On("\x7F", {{"\x79", 0ms}}).On(binary, {{binary, 0ms}, {"CD", 150ms}});
    SimDevice device(script);
    Line line(device.Path());
    ASSERT_TRUE(line.IsOpen());

    line.Write("\x7F");
    EXPECT_EQ(line.Read(1), "\x79");

    const auto sent = Clock::now();
    line.Write(binary);
    EXPECT_EQ(line.Read(binary.size()), binary);
    EXPECT_EQ(line.Read(2), "CD");
    EXPECT_GE(Clock::now() - sent, 150ms) << "the second piece came before its pause";

    // After the script the device is silent, and still records what it gets.
    line.Write("xyz");
    ASSERT_TRUE(device.WaitForReceived(1 + binary.size() + 3, kPatience));
    EXPECT_EQ(device.Received(), "\x7F" + binary + "xyz");
    EXPECT_FALSE(line.Readable());
    EXPECT_EQ(script->Matches(), (std::vector<bool>{true, true}));
}

// A device in another process must not hold its own line, or the program
// would find the line held by somebody else; it then waits through the
// hang-ups between the program's opens and answers each new opener.
TEST(SimDevice, DeviceWithoutItsOwnHoldServesOneOpenerAfterAnother) {
    auto script = std::make_shared<ScriptedDevice>();
    script->On("\x7F", {{"\x79", 0ms}}).On("\x7F", {{"\x79", 0ms}});
    SimDevice device(script, DeviceOptions{.holdLine = false});
    for (int open = 1; open <= 2; ++open) {
        SCOPED_TRACE(open);
        Line line(device.Path());
        ASSERT_TRUE(line.IsOpen());
        line.Write("\x7F");
        EXPECT_EQ(line.Read(1), "\x79");
    }
    std::this_thread::sleep_for(100ms);  // nobody on the line for a while
    EXPECT_TRUE(device.WaitForReceived(2, kPatience));
    device.Stop();  // ends promptly though the line is idle
}

TEST(SimDevice, StopInterruptsALongPauseAndTheRestIsNeverSent) {
    auto script = std::make_shared<ScriptedDevice>();
    script->On("?", {{"first", 0ms}, {"never", 60s}});
    SimDevice device(script);
    Line line(device.Path());
    ASSERT_TRUE(line.IsOpen());

    line.Write("?");
    EXPECT_EQ(line.Read(5), "first");
    const auto stopping = Clock::now();
    device.Stop();
    EXPECT_LT(Clock::now() - stopping, kPatience) << "Stop waited for the pause";
    device.Stop();  // again: nothing to do
    EXPECT_FALSE(line.Readable());

    // Waiting on a stopped device gives up at once instead of at the timeout.
    const auto waiting = Clock::now();
    EXPECT_FALSE(device.WaitForReceived(2, 60s));
    EXPECT_LT(Clock::now() - waiting, kPatience);
    EXPECT_EQ(device.Received(), "?");
}

// Tests read a personality's state right after WaitForReceived: it must be up to date.
TEST(SimDevice, ReceivedBytesHaveReachedThePersonality) {
    struct SlowToTake : Personality {
        std::atomic<bool> took{false};
        Reply OnBytes(const ByteString&) override {
            std::this_thread::sleep_for(100ms);
            took = true;
            return {};
        }
    };
    auto slow = std::make_shared<SlowToTake>();
    SimDevice device(slow);
    Line line(device.Path());
    line.Write("x");
    ASSERT_TRUE(device.WaitForReceived(1, kPatience));
    EXPECT_TRUE(slow->took);
}

TEST(SimDevice, WaitForReceivedTimesOutWhenShort) {
    SimDevice device(std::make_shared<ScriptedDevice>());
    Line line(device.Path());
    line.Write("ab");
    EXPECT_TRUE(device.WaitForReceived(2, kPatience));
    EXPECT_FALSE(device.WaitForReceived(3, 50ms));
}

// A paced line can only be slower than the bytes it carries: 10 bits a byte.
TEST(SimDevice, PacedLineTakesTheLineTimeBothWays) {
    const ByteString request(96, 'q');   // 50 ms at 19200 baud
    const ByteString answer(192, 'r');   // 100 ms at 19200 baud
    auto script = std::make_shared<ScriptedDevice>();
    script->On(request, {{answer, 0ms}});
    SimDevice device(script, DeviceOptions{.paceLine = true, .baud = 19200});
    Line line(device.Path());
    ASSERT_TRUE(line.IsOpen());

    const auto sent = Clock::now();
    line.Write(request);
    EXPECT_EQ(line.Read(answer.size()), answer);
    EXPECT_GE(Clock::now() - sent, 150ms);
    EXPECT_EQ(device.Received(), request);
}

}  // namespace
}  // namespace veltra::sim
