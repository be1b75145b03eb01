// The command exchange and the test block over the Win32 port, against the
// device's loader (veltra-sim) on COM1. The loader judges block frames even
// before it is woken, as the test block needs.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "Com1.h"
#include "loader/Download.h"
#include "protocol/CommandExchange.h"

namespace veltra::wine {
namespace {

ByteString BlockFrame(std::uint8_t seed) {
    std::array<std::uint8_t, kBlockSize> data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(seed + i * 3);
    return BuildBlockFrame(kMarkerMore, data.data());
}

TEST(LoaderExchange, BlockFramesAreJudgedByTheDeviceAndTheVerdictReadBack) {
    ByteString badCheck = BlockFrame(2);
    badCheck.back() = static_cast<char>(ByteAt(badCheck, badCheck.size() - 1) ^ 0x01);
    struct Case {
        const char* what;
        ByteString frame;
        std::uint8_t status;
        std::vector<std::string> replies;  // T22, in order
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"well-formed", BlockFrame(1), kAccepted, {"55 70 41 D ,"}, {}},
        {"wrong check byte", badCheck, kNoStatus, {"55 70 1F D ,"}, {"Ошибка 1F !!!!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Com1 com;
        ASSERT_TRUE(com.Open()) << com.Shown();
        const ExchangeResult result = wrstr(com.port, com.op, c.frame);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.answer, 0x55);
        EXPECT_EQ(com.op.replies, c.replies);
        EXPECT_EQ(com.op.MessageTexts(), c.messages);
    }
}

// The status 0x41 goes to the reply box as the decimal text "65", which the
// box shows in hexadecimal after the device's reply.
TEST(LoaderExchange, TestBlockIsShownSentAndItsStatusShownAs65) {
    Com1 com;
    ASSERT_TRUE(com.Open()) << com.Shown();
    SendTestBlock(com.port, com.op, com.wrs);
    ASSERT_EQ(com.op.trafficLogs.size(), 1u);
    EXPECT_EQ(com.op.trafficLogs[0].rfind("A5 70 0 1 2 3 4 5 6 7 8 9 A B C D E F 10 ", 0), 0u) << com.op.trafficLogs[0];
    EXPECT_EQ(com.op.replies, (std::vector<std::string>{"55 70 41 D ,", "36 35 ,"}));
    EXPECT_TRUE(com.op.messages.empty()) << com.Shown();
}

}  // namespace
}  // namespace veltra::wine
