#include <gtest/gtest.h>

#include <chrono>

#include "protocol/CommandExchange.h"
#include "sim/ScriptedDevice.h"
#include "support/Bytes.h"
#include "support/SimLink.h"

namespace veltra {
namespace {

using namespace std::chrono_literals;
using sim::Piece;
using sim::Reply;
using sim::ScriptedDevice;
using testing::Bytes;
using testing::kQuickReads;
using testing::SimLink;

const ByteString kRequest = Bytes({0xA5, 0x70, 0x01});

struct ReplyCase {
    const char* name;
    Reply reply;
    std::uint8_t status;
    std::uint8_t answer;
    std::vector<std::string> shown;     // texts of T22, in order
    std::vector<std::string> messages;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ExchangeReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ExchangeReplies, StatusAnswerAndWhatIsShown) {
    const ReplyCase& c = GetParam();
    auto script = std::make_shared<ScriptedDevice>();
    script->On(kRequest, c.reply);
    SimLink link(script, kQuickReads);

    const ExchangeResult result = wrstr(link.port, link.op, kRequest);

    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.answer, c.answer);
    EXPECT_EQ(link.op.replies, c.shown);
    EXPECT_EQ(link.op.MessageTexts(), c.messages);
    EXPECT_EQ(link.device->Received(), kRequest);
}

INSTANTIATE_TEST_SUITE_P(
    CommandExchange, ExchangeReplies,
    ::testing::Values(
        ReplyCase{"accepted in one read", {Piece{Bytes({0x01, 0x02, 0x41, 0x00})}}, 0x41, 0x01, {"1 2 41 0 ,"}, {}},
        // Split by a pause far longer than the gap that ends a read: nothing is
        // shown until the reply is whole.
        ReplyCase{"accepted in two reads",
                  {Piece{Bytes({0x01, 0x02})}, Piece{Bytes({0x41, 0x00}), 25ms}}, 0x41, 0x01, {"1 2 41 0 ,"}, {}},
        ReplyCase{"refused", {Piece{Bytes({0x01, 0x02, 0x1F, 0x00})}}, 0xFF, 0x01, {"1 2 1F 0 ,"}, {"Ошибка 1F !!!!"}},
        ReplyCase{"three bytes only", {Piece{Bytes({0x01, 0x02, 0x41})}}, 0xFF, 0x01, {}, {}},
        ReplyCase{"bootloader acknowledge", {Piece{Bytes({0x79})}}, 0xFF, 0x79, {}, {}},
        // No verdict: every one of the eight reads shows the reply again.
        ReplyCase{"other verdict", {Piece{Bytes({0x01, 0x02, 0x42, 0x00})}}, 0xFF, 0x01,
                  std::vector<std::string>(8, "1 2 42 0 ,"), {}},
        ReplyCase{"silence", {}, 0xFF, 0xFF, {}, {}}),
    [](const ::testing::TestParamInfo<ReplyCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name) if (ch == ' ') ch = '_';
        return name;
    });

TEST(CommandExchange, EmptyRequestIsRefusedWithoutReading) {
    auto script = std::make_shared<ScriptedDevice>();
    SimLink link(script, kQuickReads);
    const ExchangeResult result = wrstr(link.port, link.op, ByteString{});
    EXPECT_EQ(result.status, 0xFF);
    EXPECT_EQ(result.answer, 0xFF);
    EXPECT_EQ(link.op.MessageTexts(), std::vector<std::string>{"Error communication"});
    EXPECT_TRUE(link.device->Received().empty());
}

// Bytes after the verdict are not read by this exchange: they wait in the port
// and open the reply of the next one.
TEST(CommandExchange, ReplyGrowingAfterVerdictIsLeftForTheNextExchange) {
    const ByteString second = Bytes({0xA5, 0x70, 0x02});
    auto script = std::make_shared<ScriptedDevice>();
    script->On(kRequest, {Piece{Bytes({0x01, 0x02, 0x41, 0x00})}, Piece{Bytes({0x77, 0x88}), 150ms}});
    script->On(second, {Piece{Bytes({0x03, 0x04, 0x41, 0x00})}});
    SimLink link(script, kQuickReads);

    EXPECT_EQ(wrstr(link.port, link.op, kRequest).status, 0x41);
    EXPECT_EQ(link.op.replies, std::vector<std::string>{"1 2 41 0 ,"});
    ASSERT_TRUE(link.device->WaitForReceived(kRequest.size(), 2s));
    std::this_thread::sleep_for(300ms);  // the late bytes reach the port meanwhile

    const ExchangeResult next = wrstr(link.port, link.op, second);
    EXPECT_EQ(next.answer, 0x77);
    EXPECT_EQ(link.op.LastReply(), "77 88 3 4 41 0 ,");
    EXPECT_EQ(next.status, 0xFF) << "the third byte of the joined reply is 0x03";
}

// The work handed to the exchange runs once per exchange, with the request
// already on its way and before anything of the reply is read or shown:
// answered, silent or refused.
TEST(CommandExchange, WorkWhileOnLineRunsOnceBetweenWriteAndFirstRead) {
    struct Case { const char* what; Reply reply; std::uint8_t status; };
    const Case cases[] = {
        {"accepted", {Piece{Bytes({0x01, 0x02, 0x41, 0x00})}}, 0x41},
        {"silent", {}, 0xFF},
        {"refused", {Piece{Bytes({0x01, 0x02, 0x1F, 0x00})}}, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto script = std::make_shared<ScriptedDevice>();
        script->On(kRequest, c.reply);
        SimLink link(script, kQuickReads);
        int calls = 0;
        const auto whileOnLine = [&] {
            ++calls;
            EXPECT_TRUE(link.op.replies.empty());
            EXPECT_TRUE(link.op.messages.empty());
            EXPECT_TRUE(link.device->WaitForReceived(kRequest.size(), 2s)) << "the request is written first";
        };
        EXPECT_EQ(wrstr(link.port, link.op, kRequest, whileOnLine).status, c.status);
        EXPECT_EQ(calls, 1);
    }
}

TEST(CommandExchange, LongReplyIsShownWhole) {
    ByteString reply = Bytes({0x01, 0x02, 0x43});
    reply.append(297, '\x30');
    auto script = std::make_shared<ScriptedDevice>();
    script->On(kRequest, {Piece{reply}});
    SimLink link(script, kQuickReads);
    wrstr(link.port, link.op, kRequest);
    ASSERT_FALSE(link.op.replies.empty());
    EXPECT_EQ(link.op.LastReply(), "1 2 43 " + [] { std::string s; for (int i = 0; i < 297; ++i) s += "30 "; return s; }() + ",");
}

}  // namespace
}  // namespace veltra
