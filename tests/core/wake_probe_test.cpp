// One wake-up attempt (ProbeLoader), which WakeLoader repeats and veltra-load's
// loop uses to tell whether a device is on the line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "protocol/WakeUp.h"
#include "sim/LoaderDevice.h"
#include "support/SimLink.h"

namespace veltra {
namespace {

using testing::kQuickReads;
using testing::SimLink;

TEST(WakeProbe, AnsweredOnlyWhenTheReplyBeginsWithTheAck) {
    struct Case {
        const char* what;
        sim::LoaderOptions options;
        ProbeResult first;
    };
    const Case cases[] = {
        {"a loader that wakes at once", {}, ProbeResult::Answered},
        {"a reply that ends with 0x79", {.handshakeAttempt = 2, .earlyReply = ByteString("\x00\x79", 2)},
         ProbeResult::OtherReply},
        {"silence", {.handshakeAttempt = 2}, ProbeResult::Silence},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto loader = std::make_shared<sim::LoaderDevice>(c.options);
        SimLink link(loader, kQuickReads);
        ASSERT_TRUE(link.opened);
        EXPECT_EQ(ProbeLoader(link.port, link.op, link.wrs), c.first);
        EXPECT_EQ(link.device->Received(), "\x7F") << "one wake-up byte per attempt";
        EXPECT_EQ(ProbeLoader(link.port, link.op, link.wrs), ProbeResult::Answered) << "the second attempt wakes it";
        EXPECT_TRUE(link.op.messages.empty());
    }
}

TEST(WakeProbe, PortThatTakesNoBytesShowsTheWriteError) {
    SimLink link(std::make_shared<sim::LoaderDevice>(), kQuickReads);
    link.port.ClosePort();
    EXPECT_EQ(ProbeLoader(link.port, link.op, link.wrs), ProbeResult::WriteFailed);
    EXPECT_EQ(link.op.MessageTexts(), std::vector<std::string>{"Com port write error"});
    EXPECT_EQ(WakeLoader(link.port, link.op, link.wrs), WakeResult::WriteFailed);
    EXPECT_TRUE(link.op.retryQuestions.empty());
}

}  // namespace
}  // namespace veltra
