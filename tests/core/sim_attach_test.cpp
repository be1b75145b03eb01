// veltra-sim --attach: the device played on a terminal someone else made, as
// the virtual machine's serial lines are. Here the test makes the pty and
// holds its master, where the virtual machine would.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "sim/CommandLine.h"
#include "support/ChildProgram.h"

namespace veltra::sim {
namespace {

using namespace std::chrono_literals;
using veltra::testing::ChildProgram;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 10s;  // bounds waits that must merely end

SimCommand Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "veltra-sim");
    return ParseSimCommand(static_cast<int>(args.size()), args.data());
}

TEST(SimAttachCommandLine, TakesThePath) {
    const SimCommand attached = Parse({"--attach", "/dev/pts/7", "--pace", "--wake-once"});
    EXPECT_EQ(attached.attach, "/dev/pts/7");
    EXPECT_TRUE(attached.device.paceLine);
    EXPECT_TRUE(attached.loader.wakeOnce);

}

// The far end of a pty that the test made: it keeps the master and lets the
// simulator open the slave by its path.
class AttachedPty : public ::testing::Test {
protected:
    void SetUp() override {
        int slave = -1;
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        ASSERT_EQ(::openpty(&master_, &slave, name, &raw, nullptr), 0) << std::strerror(errno);
        ::close(slave);
        slavePath_ = name;
    }
    void TearDown() override {
        if (master_ >= 0) ::close(master_);
    }

    // Reads from the master until `count` bytes are in or the patience ends.
    std::string ReadBack(std::size_t count) const {
        std::string back;
        const auto deadline = Clock::now() + kPatience;
        while (back.size() < count && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) continue;
            char buffer[512];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            back.append(buffer, static_cast<std::size_t>(n));
        }
        return back;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int master_ = -1;
    std::string slavePath_;
};

// The personality plays on the given terminal, with the trace as usual, and
// the line was made raw: no byte value is translated on the way.
TEST_F(AttachedPty, LoaderAnswersTheWakeUpAndEchoSendsEveryByteBack) {
    {
        ChildProgram sim(VELTRA_SIM_PROGRAM, {"--attach", slavePath_}, ChildProgram::Errors::WithOutput);
        ASSERT_TRUE(sim.WaitForOutput("attached to " + slavePath_, kPatience)) << sim.Output();
        Send("\x7F");
        EXPECT_EQ(ReadBack(1), "\x79");
        ASSERT_TRUE(sim.WaitForOutput("wake-up  attempt 1: answered 79", kPatience)) << sim.Output();
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Finish(kPatience), 0) << sim.Output();
    }
    {
        ChildProgram sim(VELTRA_SIM_PROGRAM, {"--attach", slavePath_, "--echo"}, ChildProgram::Errors::WithOutput);
        ASSERT_TRUE(sim.WaitForOutput("attached to " + slavePath_, kPatience)) << sim.Output();
        std::string every;
        for (int v = 0; v < 256; ++v) every += static_cast<char>(v);
        Send(every);
        EXPECT_EQ(ReadBack(every.size()), every);
        sim.Signal(SIGINT);
        EXPECT_EQ(sim.Finish(kPatience), 0) << sim.Output();
        EXPECT_NE(sim.Output().find("256 bytes received, all sent back"), std::string::npos) << sim.Output();
    }
}

TEST(SimAttach, PathThatIsNoTerminalIsRefused) {
    struct Case { const char* path; std::string says; };
    const Case cases[] = {
        {"/nonexistent/pts/9", "cannot open /nonexistent/pts/9: No such file or directory"},
        {"/dev/null", "/dev/null is not a terminal"},
    };
    for (const Case& c : cases) {
        ChildProgram sim(VELTRA_SIM_PROGRAM, {"--attach", c.path, "--echo"}, ChildProgram::Errors::WithOutput);
        EXPECT_EQ(sim.Finish(kPatience), 1) << sim.Output();
        EXPECT_NE(sim.Output().find(c.says), std::string::npos) << sim.Output();
    }
}

}  // namespace
}  // namespace veltra::sim
