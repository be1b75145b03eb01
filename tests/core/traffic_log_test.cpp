#include <gtest/gtest.h>

#include "protocol/TrafficLog.h"
#include "support/Bytes.h"
#include "support/RecordingOperator.h"

namespace veltra {
namespace {

using testing::Bytes;

TEST(TrafficLog, RenderingsOfFrames) {
    struct Case { const char* name; ByteString frame; std::string hex; std::string readable; };
    const Case cases[] = {
        {"ack byte", Bytes({0x79}), "79 ", "y"},
        {"line ends", Bytes({0x00, 0x0D, 0x0A, 0x41}), "0 D A 41 ", "@<CR><LF>A"},
        {"brackets", Bytes({0x5B, 0x5D}), "5B 5D ", "<NAK><ACK>"},
        {"control bytes", Bytes({0x06, 0x15}), "6 15 ", "@@"},
        {"space and punctuation", Bytes({0x20, 0x2F, 0x30}), "20 2F 30 ", "@@0"},
        {"high bytes as their own characters", Bytes({0x7F, 0x80, 0xE9, 0xFF}), "7F 80 E9 FF ", "\x7F\u0080\u00E9\u00FF"},
        {"empty frame", ByteString{}, "", ""},
    };
    for (const Case& c : cases) {
        testing::RecordingOperator op;
        out_win(op, c.frame);
        out_tt2(op, c.frame);
        EXPECT_EQ(op.LastTrafficLog(), c.hex + "\r\n\r\n" + c.readable) << c.name;
        EXPECT_EQ(op.LastReply(), c.hex + ",") << c.name;
    }
}

TEST(TrafficLog, LongFramesAreRenderedWhole) {
    ByteString frame;
    for (int i = 0; i < 300; ++i) AppendByte(frame, static_cast<std::uint8_t>(0x30 + i % 10));
    testing::RecordingOperator op;
    out_win(op, frame);
    out_tt2(op, frame);
    EXPECT_EQ(op.LastReply().size(), 300u * 3 + 1);
    const std::string& log = op.LastTrafficLog();
    ASSERT_EQ(log.size(), 300u * 3 + 4 + 300);
    EXPECT_EQ(log.substr(log.size() - 10), "0123456789");
}

TEST(TrafficLog, SecondRenderingReplacesTheFirst) {
    testing::RecordingOperator op;
    out_win(op, Bytes({0x01, 0x02, 0x03}));
    out_win(op, Bytes({0x41}));
    EXPECT_EQ(op.LastTrafficLog(), "41 \r\n\r\nA");
}

}  // namespace
}  // namespace veltra
