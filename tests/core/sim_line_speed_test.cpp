// The simulated line paced at the speed the program set: the rates of the
// termios speed codes, the speed a pty's master shows, and replies keeping
// the byte time they were queued with when the speed changes.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/CommandLine.h"
#include "sim/EchoDevice.h"
#include "sim/LineSpeed.h"
#include "sim/PtyPair.h"
#include "sim/ReplySender.h"
#include "sim/SimDevice.h"

namespace veltra::sim {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 5s;  // bounds waits that must merely end

// The program's end of a pty, opened raw at `speed` as a serial port would be.
class ProgramEnd {
public:
    ProgramEnd(const std::string& path, speed_t speed) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios tio{};
        if (fd_ < 0 || ::tcgetattr(fd_, &tio) != 0) return;
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        set_ = ::tcsetattr(fd_, TCSANOW, &tio) == 0;
    }
    ~ProgramEnd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ProgramEnd(const ProgramEnd&) = delete;
    ProgramEnd& operator=(const ProgramEnd&) = delete;

    bool IsSet() const { return set_; }
    bool Write(const std::string& bytes) const {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until `count` bytes are in, or a wait for more ends empty.
    std::string Read(std::size_t count) const {
        std::string got;
        while (got.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) break;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int fd_;
    bool set_ = false;
};

TEST(LineSpeed, AByteIsTenBitsAtTheRateOfTheSpeedCode) {
    struct Case {
        speed_t code;
        int baud;
        std::chrono::nanoseconds byteTime;
    };
    const Case cases[] = {
        {B0, 0, 0ns},  // no speed set: nothing to pace by
        {std::numeric_limits<speed_t>::max(), 0, 0ns},
        {B9600, 9600, 1'041'666ns},
        {B19200, 19200, 520'833ns},
        {B115200, 115200, 86'805ns},
        {B4000000, 4000000, 2'500ns},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BaudOf(c.code), c.baud) << c.baud;
        EXPECT_EQ(ByteTimeAt(c.baud), c.byteTime) << c.baud;
    }
}

TEST(LineSpeed, APtysMasterShowsTheSpeedSetOnTheSlave) {
    PtyPair pty;
    for (const auto& [code, baud] : {std::pair<speed_t, int>{B115200, 115200}, std::pair<speed_t, int>{B9600, 9600}}) {
        const ProgramEnd program(pty.SlavePath(), code);
        ASSERT_TRUE(program.IsSet()) << baud;
        EXPECT_EQ(LineBaud(pty.MasterFd()), baud);
    }
    EXPECT_EQ(LineBaud(-1), 0) << "no terminal, no speed";
}

// A fixed baud stays fixed whatever the program set; baud 0 follows it.
TEST(LineSpeed, TheDeviceTimesBytesAtItsOwnBaudOrAtTheProgramsSpeed) {
    PtyPair pty;
    const ProgramEnd program(pty.SlavePath(), B115200);
    ASSERT_TRUE(program.IsSet());
    struct Case {
        DeviceOptions options;
        std::chrono::nanoseconds byteTime;
    };
    const Case cases[] = {
        {{.paceLine = false, .baud = 19200}, 0ns},
        {{.paceLine = false, .baud = 0}, 0ns},
        {{.paceLine = true, .baud = 19200}, 520'833ns},
        {{.paceLine = true, .baud = 0}, 86'805ns},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PacedByteTime(c.options, pty.MasterFd()), c.byteTime) << c.options.paceLine << " " << c.options.baud;
    }
}

SimCommand Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "veltra-sim");
    return ParseSimCommand(static_cast<int>(args.size()), args.data());
}

// On a pty of its own the program sets the speed; an attached line's far end
// is set out of sight, so it keeps 19200, whichever option comes first.
TEST(SimPaceCommandLine, PaceFollowsTheProgramOnAPtyOfItsOwnOnly) {
    struct Case {
        const char* what;
        std::vector<const char*> args;
        bool paced;
        int baud;
    };
    const Case cases[] = {
        {"unpaced", {"--rom"}, false, 19200},
        {"own pty", {"--pace"}, true, 0},
        {"own pty at a link", {"--rom", "--pace", "--link", "/tmp/com1"}, true, 0},
        {"attached after", {"--pace", "--attach", "/dev/pts/7"}, true, 19200},
        {"attached before", {"--attach", "/dev/pts/7", "--echo", "--pace"}, true, 19200},
    };
    for (const Case& c : cases) {
        const SimCommand command = Parse(c.args);
        EXPECT_EQ(command.device.paceLine, c.paced) << c.what;
        EXPECT_EQ(command.device.baud, c.baud) << c.what;
    }
}

TEST(ReplySender, AReplyKeepsTheByteTimeItWasQueuedWith) {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0);
    const auto t0 = ReplySender::Clock::time_point{} + 1h;
    ReplySender sender(1ms);
    sender.Queue({{"ab", 0ms}}, t0);
    sender.SetByteTime(10ms);
    sender.Queue({{"c", 0ms}}, t0);

    EXPECT_EQ(sender.NextDue(), t0 + 1ms);
    ASSERT_EQ(sender.Pump(pipe[1], t0 + 2ms), ReplySender::Result::Ok);
    // "ab" went at 1 ms a byte; "c" follows where it ended, at 10 ms a byte.
    EXPECT_EQ(sender.NextDue(), t0 + 12ms);
    ASSERT_EQ(sender.Pump(pipe[1], t0 + 12ms), ReplySender::Result::Ok);
    EXPECT_FALSE(sender.NextDue().has_value());

    char out[8] = {};
    EXPECT_EQ(::read(pipe[0], out, sizeof out), 3);
    EXPECT_EQ(std::string(out, 3), "abc");
    ::close(pipe[0]);
    ::close(pipe[1]);
}

// Whatever speed the program set, or none, the bytes get through.
TEST(SimDevice, FollowingTheProgramsSpeedCarriesTheBytes) {
    for (const speed_t speed : {speed_t{B0}, speed_t{B9600}, speed_t{B115200}}) {
        SimDevice device(std::make_shared<EchoDevice>(), DeviceOptions{.paceLine = true, .baud = 0});
        const ProgramEnd program(device.Path(), speed);
        ASSERT_TRUE(program.IsSet()) << speed;
        const std::string bytes("\x7F\x00\xFF probe", 9);
        ASSERT_TRUE(program.Write(bytes)) << speed;
        EXPECT_EQ(program.Read(bytes.size()), bytes) << speed;
    }
}

}  // namespace
}  // namespace veltra::sim
