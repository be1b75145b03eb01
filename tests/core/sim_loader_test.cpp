#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/Crc8.h"
#include "sim/LoaderDevice.h"

namespace veltra::sim {
namespace {

using namespace std::chrono_literals;

ByteString Data(std::uint8_t seed) {
    ByteString data;
    for (int i = 0; i < 64; ++i) AppendByte(data, static_cast<std::uint8_t>(seed + i * 7));
    return data;
}

ByteString Frame(std::uint8_t marker, const ByteString& data) {
    ByteString frame;
    AppendByte(frame, marker);
    AppendByte(frame, 0x70);
    return Control_summ(frame + data);
}

ByteString Joined(const Reply& reply) {
    ByteString all;
    for (const Piece& piece : reply) all += piece.bytes;
    return all;
}

const ByteString kAccepted("\x55\x70\x41\x0D", 4);
const ByteString kRefused("\x55\x70\x1F\x0D", 4);

TEST(LoaderDevice, ChecksEveryFrameAndReassemblesTheAcceptedOnes) {
    ByteString badCrc = Frame(0xA5, Data(2));
    badCrc.back() = static_cast<char>(ByteAt(badCrc, 66) ^ 0x01);
    ByteString badCommand = Frame(0xA5, Data(3));
    badCommand[1] = 0x71;
    badCommand = Control_summ(badCommand.substr(0, 66));  // right CRC, wrong byte 1

    struct Case { const char* what; ByteString frame; bool accepted; };
    const std::vector<Case> cases = {
        {"more follows", Frame(0xA5, Data(1)), true},
        {"wrong CRC", badCrc, false},
        {"wrong byte 1", badCommand, false},
        {"unknown marker", Frame(0x5A, Data(4)), false},
        {"closing", Frame(0xD2, Data(5)), true},
    };

    LoaderDevice loader;
    ASSERT_EQ(Joined(loader.OnBytes("\x7F")), "\x79");
    for (const Case& c : cases) {
        EXPECT_EQ(Joined(loader.OnBytes(c.frame)), c.accepted ? kAccepted : kRefused) << c.what;
    }
    EXPECT_EQ(loader.Accepted(), (std::vector<bool>{true, false, false, false, true}));
    EXPECT_EQ(loader.Frames().size(), cases.size());
    EXPECT_EQ(loader.Frames()[1], badCrc);
    EXPECT_EQ(loader.Firmware(), Data(1) + Data(5));
}

TEST(LoaderDevice, FramesAreAssembledByCountAcrossArrivals) {
    LoaderDevice loader;
    const ByteString frames = Frame(0xA5, Data(10)) + Frame(0xD2, Data(20));
    // The wake-up and the first 30 bytes together, then the rest in two uneven pieces.
    ByteString first(1, '\x7F');
    first += frames.substr(0, 30);
    EXPECT_EQ(Joined(loader.OnBytes(first)), "\x79");
    EXPECT_EQ(Joined(loader.OnBytes(frames.substr(30, 50))), kAccepted);
    EXPECT_EQ(Joined(loader.OnBytes(frames.substr(80))), kAccepted);
    EXPECT_EQ(loader.Firmware(), Data(10) + Data(20));
}

TEST(LoaderDevice, WakesOnTheChosenAttemptOnly) {
    LoaderDevice loader(LoaderOptions{.handshakeAttempt = 3, .earlyReply = ByteString("\x00\x79", 2),
                                      .handshakeReply = ByteString("\x79\x00", 2)});
    // Asleep, it ignores noise, and answers a whole block frame (the test
    // block comes without a wake-up) without waking.
    EXPECT_TRUE(loader.OnBytes(ByteString("\x00\x55\x41", 3)).empty());
    EXPECT_EQ(Joined(loader.OnBytes(Frame(0xA5, Data(0)))), kAccepted);
    EXPECT_EQ(loader.HandshakeAttempts(), 0);
    EXPECT_EQ(Joined(loader.OnBytes("\x7F")), ByteString("\x00\x79", 2));
    EXPECT_EQ(Joined(loader.OnBytes("\x7F")), ByteString("\x00\x79", 2));
    EXPECT_EQ(Joined(loader.OnBytes("\x7F")), ByteString("\x79\x00", 2));
    EXPECT_EQ(loader.HandshakeAttempts(), 3);
    EXPECT_EQ(loader.Frames().size(), 1u);

    // Awake, a wake-up where a frame would begin is a new download: answered again.
    EXPECT_EQ(Joined(loader.OnBytes(Frame(0xA5, Data(1)))), kAccepted);
    EXPECT_EQ(Joined(loader.OnBytes("\x7F")), ByteString("\x79\x00", 2));
    EXPECT_EQ(loader.HandshakeAttempts(), 3);
    EXPECT_EQ(loader.Frames().size(), 2u);
}

TEST(LoaderDevice, MisbehavesOnTheChosenBlock) {
    struct Case {
        const char* what;
        LoaderOptions options;
        Reply block2;  // what block 2 gets
        std::vector<bool> accepted;
    };
    const std::vector<Case> cases = {
        {"refuse", {.refuseBlock = 2}, {{kRefused, 0ms}}, {true, false, true}},
        {"split", {.splitBlock = 2, .splitPause = 30ms},
         {{kAccepted.substr(0, 2), 0ms}, {kAccepted.substr(2), 30ms}}, {true, true, true}},
        {"garbage", {.garbageBlock = 2}, {{ByteString("\x55\x70\x3F\x0D", 4), 0ms}}, {true, false, true}},
        {"silent", {.silentFromBlock = 2}, {}, {true, false, false}},
    };
    for (const Case& c : cases) {
        LoaderDevice loader(c.options);
        loader.OnBytes("\x7F");
        EXPECT_EQ(Joined(loader.OnBytes(Frame(0xA5, Data(1)))), kAccepted) << c.what;

        const Reply reply = loader.OnBytes(Frame(0xA5, Data(2)));
        ASSERT_EQ(reply.size(), c.block2.size()) << c.what;
        for (std::size_t i = 0; i < reply.size(); ++i) {
            EXPECT_EQ(reply[i].bytes, c.block2[i].bytes) << c.what << " piece " << i;
            EXPECT_EQ(reply[i].pauseBefore, c.block2[i].pauseBefore) << c.what << " piece " << i;
        }
        const bool silentStays = c.options.silentFromBlock != 0;
        EXPECT_EQ(Joined(loader.OnBytes(Frame(0xD2, Data(3)))), silentStays ? "" : kAccepted) << c.what;
        EXPECT_EQ(loader.Accepted(), c.accepted) << c.what;
    }
}

}  // namespace
}  // namespace veltra::sim
