// The Win32 port against a loopback plug (veltra-sim --echo) on COM1: what one
// read returns, that every byte value passes both ways, and how a refused
// open is reported.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "Com1.h"
#include "support/PortBytes.h"

namespace veltra::wine {
namespace {

using namespace std::chrono_literals;
using testing::EveryByteValue;
using testing::ReadBack;

// Long enough for the loopback to have sent everything back; the reads after
// it then find all of it waiting in the port.
constexpr auto kEchoArrives = 300ms;

std::string Line(const std::string& text, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = text.find('\n', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    return text.substr(start, text.find('\n', start) - start);
}

class Loopback : public ::testing::Test {
protected:
    Com1 com;
};

TEST_F(Loopback, OpensCom1WithoutABoxAndReadsNothingWhenNothingWasSent) {
    ASSERT_TRUE(com.Open()) << com.Shown();
    EXPECT_TRUE(com.op.messages.empty()) << com.Shown();
    EXPECT_TRUE(com.port.IsOpen());
    EXPECT_EQ(com.port.ReadPort(), "");
}

TEST_F(Loopback, ThreeHundredBytesComeBackAs255Then45) {
    ASSERT_TRUE(com.Open()) << com.Shown();
    const ByteString sent = Pattern(300);
    EXPECT_EQ(com.port.WritePort(sent), 0) << "a write of more than 255 bytes goes in pieces and counts nothing";
    std::this_thread::sleep_for(kEchoArrives);
    const ByteString first = com.port.ReadPort();
    const ByteString second = com.port.ReadPort();
    EXPECT_EQ(first.size(), 255u);
    EXPECT_EQ(second.size(), 45u);
    EXPECT_EQ(first + second, sent);
}

// No translation on either way: NUL, XON/XOFF, CR and LF, 0xFF all pass.
TEST_F(Loopback, EveryByteValuePassesBothWaysUnchanged) {
    ASSERT_TRUE(com.Open()) << com.Shown();
    const ByteString all = EveryByteValue();
    EXPECT_EQ(com.port.WritePort(all.substr(0, 255)), 255);
    EXPECT_EQ(com.port.WritePort(all.substr(255)), 1);
    EXPECT_EQ(ReadBack(com.port, all.size()), all);
    EXPECT_EQ(com.port.ReadPort(), "") << "nothing more may come back";
}

// A refused open shows why, holds nothing, and the port opens afterwards.
TEST_F(Loopback, RefusedOpenShowsWhyAndCom1OpensAfterwards) {
    struct Case {
        const char* what;
        std::string port;
        std::string settings;
        std::string firstLine;
        std::string secondLineStart;  // empty: the box has one line only
        MessageIcon icon;
    };
    const Case cases[] = {
        {"malformed settings", kPort, "19200,x,8,1", "Unable to build Comm DCB 19200,x,8,1 Error: 87", "",
         MessageIcon::None},
        {"port not on this machine", "COM7:", kSettings, "Com Port COM7: недоступен. Установите нужный порт.",
         "There is no such port", MessageIcon::Warning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Com1 refused;
        EXPECT_FALSE(refused.port.OpenPort(c.port, c.settings));
        EXPECT_FALSE(refused.port.IsOpen());
        ASSERT_EQ(refused.op.messages.size(), 1u) << refused.Shown();
        const Message& box = refused.op.messages[0];
        EXPECT_EQ(Line(box.text, 0), c.firstLine);
        if (c.secondLineStart.empty()) {
            EXPECT_EQ(box.text, c.firstLine);
        } else {
            EXPECT_EQ(Line(box.text, 1).rfind(c.secondLineStart, 0), 0u) << box.text;
            EXPECT_EQ(Line(box.text, 2), "") << box.text;
        }
        EXPECT_EQ(box.icon, c.icon);

        // The refused open left COM1 free: another port opens it and uses it.
        Com1 after;
        ASSERT_TRUE(after.Open()) << after.Shown();
        EXPECT_EQ(after.port.WritePort("\x55\xAA"), 2);
        EXPECT_EQ(ReadBack(after.port, 2), "\x55\xAA");
    }
}

TEST_F(Loopback, SecondOpenIsRefusedWhileTheFirstHoldsThePort) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine lets a second open of a COM port succeed (share mode 0 is not honoured)";
    ASSERT_TRUE(com.Open()) << com.Shown();
    Com1 second;
    EXPECT_FALSE(second.Open());
    ASSERT_EQ(second.op.messages.size(), 1u) << second.Shown();
    EXPECT_EQ(Line(second.op.messages[0].text, 0), "Com Port COM1: недоступен. Установите нужный порт.");
    EXPECT_EQ(second.op.messages[0].icon, MessageIcon::Warning);

    // The holder keeps its port whole.
    EXPECT_EQ(com.port.WritePort("ok"), 2);
    EXPECT_EQ(ReadBack(com.port, 2), "ok");
}

}  // namespace
}  // namespace veltra::wine
