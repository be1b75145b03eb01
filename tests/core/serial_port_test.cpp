// The port module over real pseudo-terminals: the test plays the device on the
// master side and the port opens the slave path, as it would open a serial
// device.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "sim/PtyPair.h"
#include "support/PortBytes.h"
#include "support/RecordingOperator.h"

namespace veltra {
namespace {

using testing::EveryByteValue;
using testing::RecordingOperator;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kSettings = "19200,n,8,1";

// The warning box of a port that cannot be had: the fixed first line, then
// the reason in plain words.
std::string Unavailable(const std::string& port, const std::string& reason) {
    return "Com Port " + port + " недоступен. Установите нужный порт.\n" + reason;
}

std::string OwnProgramName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

ByteString Pattern(std::size_t size, unsigned seed = 7) {
    ByteString s;
    for (std::size_t i = 0; i < size; ++i) AppendByte(s, static_cast<std::uint8_t>(i * seed + 3));
    return s;
}

void MasterWrite(int fd, const ByteString& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ASSERT_GT(n, 0) << "write to the master failed, errno " << errno;
        done += static_cast<std::size_t>(n);
    }
}

// What the device side receives: up to `count` bytes, or what came before
// the wait ran out.
ByteString MasterRead(int fd, std::size_t count, std::chrono::milliseconds wait = 5s) {
    ByteString got;
    const auto deadline = Clock::now() + wait;
    while (got.size() < count && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// Linux hands the slave's line settings to the master side, so the test can
// set and read them without opening the slave.
termios MasterSideTermios(int master) {
    termios t{};
    EXPECT_EQ(tcgetattr(master, &t), 0);
    return t;
}

// Leaves the slave the way a terminal usually is (line editing, echo, CR/LF
// translation, XON/XOFF, hardware flow control, 9600 baud), so that what the
// port sets is seen to replace it.
void CookSlave(int master) {
    termios t = MasterSideTermios(master);
    t.c_iflag |= ICRNL | IXON | IXOFF;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag |= CRTSCTS | CSTOPB | PARODD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    ASSERT_EQ(tcsetattr(master, TCSANOW, &t), 0);
    ASSERT_NE(MasterSideTermios(master).c_lflag & ICANON, 0u) << "the slave could not be cooked";
}

// The slave's settings through a second descriptor on its path. Without
// privileges the port's exclusive mode refuses that open; the master side
// then reports the same settings.
termios SlaveTermios(const sim::PtyPair& pty) {
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        EXPECT_EQ(errno, EBUSY);
        return MasterSideTermios(pty.MasterFd());
    }
    termios t{};
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    ::close(fd);
    return t;
}

// Whether the terminal is in exclusive mode. Without privileges a second open
// is refused while it is, which tells the same.
bool SlaveExclusive(const sim::PtyPair& pty) {
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY;
    int exclusive = 0;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    ::close(fd);
    return exclusive != 0;
}

std::set<int> OpenDescriptors() {
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return fds;
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != own) fds.insert(fd);
    }
    ::closedir(dir);
    return fds;
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

template <typename F>
std::chrono::milliseconds Timed(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// A simulated line: a cooked pseudo-terminal whose slave is "COM3:".
struct Line {
    Line() {
        CookSlave(pty->MasterFd());
        port.SetDeviceNameMap([path = pty->SlavePath()](const std::string&) { return path; });
    }
    bool Open(const std::string& settings = kSettings) { return port.OpenPort("COM3:", settings); }
    int Master() const { return pty->MasterFd(); }

    std::unique_ptr<sim::PtyPair> pty = std::make_unique<sim::PtyPair>();
    RecordingOperator op;
    SerialPort port{op};
};

class OpenLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(line.Open());
        ASSERT_TRUE(line.op.messages.empty());
    }
    Line line;
};

// ---- Reading ---------------------------------------------------------------

TEST_F(OpenLine, BurstThenSilenceEndsTheReadAndTheNextBurstComesInTheNextRead) {
    std::jthread device([&] {
        std::this_thread::sleep_for(30ms);  // the read is already waiting
        MasterWrite(line.Master(), "first burst");
        std::this_thread::sleep_for(50ms);
        MasterWrite(line.Master(), "second");
    });
    EXPECT_EQ(line.port.ReadPort(), "first burst");
    EXPECT_EQ(line.port.ReadPort(), "second");
}

TEST_F(OpenLine, ThreeHundredBytesBackToBackComeAs255Then45) {
    const ByteString sent = Pattern(300);
    MasterWrite(line.Master(), sent);
    const ByteString first = line.port.ReadPort();
    const ByteString second = line.port.ReadPort();
    EXPECT_EQ(first.size(), 255u);
    EXPECT_EQ(second.size(), 45u);
    EXPECT_EQ(first + second, sent);
}

TEST_F(OpenLine, SilentLineGivesAnEmptyReadAfterAboutAQuarterSecond) {
    ByteString got = "unset";
    const auto took = Timed([&] { got = line.port.ReadPort(); });
    EXPECT_EQ(got, "");
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 2000ms);
    EXPECT_TRUE(line.op.messages.empty());
}

TEST_F(OpenLine, BytesThatKeepComingAreCutAtTheTotalDeadline) {
    constexpr int kBytes = 60;  // one every 10 ms: 600 ms in all
    std::jthread device([&] {
        for (int i = 0; i < kBytes; ++i) {
            MasterWrite(line.Master(), ByteString(1, 'x'));
            std::this_thread::sleep_for(10ms);
        }
    });
    const ByteString got = line.port.ReadPort();
    EXPECT_FALSE(got.empty());
    EXPECT_LT(got.size(), static_cast<std::size_t>(kBytes)) << "the read ran past its total deadline";
}

// Longer timeouts reach the port whether they are set before or after the
// open: a byte 400 ms late is still caught, and pieces 120 ms apart stay in
// one read because each byte restarts the gap.
TEST(SerialPortTimeouts, LongerTimeoutsApplyBeforeAndAfterTheOpen) {
    for (const bool beforeOpen : {true, false}) {
        SCOPED_TRACE(beforeOpen ? "set before the open" : "set after the open");
        Line line;
        const ReadTimeouts slow{200, 3000};
        if (beforeOpen) line.port.SetReadTimeouts(slow);
        ASSERT_TRUE(line.Open());
        if (!beforeOpen) line.port.SetReadTimeouts(slow);
        std::jthread device([&] {
            for (const char* piece : {"a", "b", "c"}) {
                std::this_thread::sleep_for(piece[0] == 'a' ? 400ms : 120ms);
                MasterWrite(line.Master(), piece);
            }
        });
        EXPECT_EQ(line.port.ReadPort(), "abc");
    }
}

// ---- Writing ---------------------------------------------------------------

TEST_F(OpenLine, SixHundredBytesArriveInOrderAndTheCountIsZero) {
    const ByteString sent = Pattern(600, 13);
    EXPECT_EQ(line.port.WritePort(sent), 0);
    EXPECT_EQ(MasterRead(line.Master(), 600), sent);
}

TEST_F(OpenLine, WritesUpTo255BytesReturnTheirCount) {
    struct Case {
        ByteString data;
        std::int16_t count;
    };
    for (const Case& c : {Case{Pattern(255), 255}, Case{"\x79", 1}, Case{"", 0}}) {
        SCOPED_TRACE(c.data.size());
        EXPECT_EQ(line.port.WritePort(c.data), c.count);
        EXPECT_EQ(MasterRead(line.Master(), c.data.size() + 1, 100ms), c.data);
    }
}

// Raw mode: no CR/LF translation, no XON/XOFF taken out, no echo, no signal
// characters, NUL and 0xFF as they are.
TEST_F(OpenLine, EveryByteValuePassesBothWaysUnchanged) {
    const ByteString all = EveryByteValue();

    MasterWrite(line.Master(), all);
    ByteString received;
    for (int reads = 0; reads < 10 && received.size() < all.size(); ++reads) received += line.port.ReadPort();
    EXPECT_EQ(received, all);

    line.port.WritePort(all);
    EXPECT_EQ(MasterRead(line.Master(), all.size() + 1, 300ms), all) << "nothing more may come back either";
}

// ---- Opening ---------------------------------------------------------------

TEST_F(OpenLine, LineSettingsTakeEffectOnTheDevice) {
    const termios t = SlaveTermios(*line.pty);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

// A pseudo-terminal keeps the rate, the stop bits and the parity kind it is
// given (it forces 8 data bits and no parity generation of its own).
TEST(SerialPortOpen, OtherValidSettingsReachTheDevice) {
    struct Case {
        std::string settings;
        speed_t speed;
        tcflag_t kept;  // of PARODD | CMSPAR | CSTOPB
    };
    const Case cases[] = {
        {"9600,e,7,2", B9600, CSTOPB},
        {"115200,O,8,1", B115200, PARODD},
        {"4800,m,8,1", B4800, PARODD | CMSPAR},
        {"1200,s,5,2", B1200, CMSPAR | CSTOPB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        Line line;
        ASSERT_TRUE(line.Open(c.settings));
        EXPECT_TRUE(line.op.messages.empty());
        const termios t = SlaveTermios(*line.pty);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), c.kept);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    }
}

TEST_F(OpenLine, SecondOpenIsRefusedUntilTheFirstCloses) {
    RecordingOperator otherOp;
    SerialPort other(otherOp);
    other.SetDeviceNameMap([path = line.pty->SlavePath()](const std::string&) { return path; });

    EXPECT_FALSE(other.OpenPort("COM3:", kSettings));
    EXPECT_FALSE(other.IsOpen());
    ASSERT_EQ(otherOp.messages.size(), 1u);
    EXPECT_EQ(otherOp.messages[0].text, Unavailable("COM3:", "In use by another program."));
    EXPECT_EQ(otherOp.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(otherOp.messages[0].caption, "");

    EXPECT_NE(line.port.ClosePort(), 0);
    EXPECT_FALSE(line.port.IsOpen());
    EXPECT_TRUE(other.OpenPort("COM3:", kSettings));
    EXPECT_EQ(otherOp.messages.size(), 1u);
}

TEST_F(OpenLine, SecondOpenFromAnotherProcessIsRefused) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RecordingOperator childOp;
        SerialPort childPort(childOp);
        childPort.SetDeviceNameMap([path = line.pty->SlavePath()](const std::string&) { return path; });
        // The parent holds it: through its lock file, or seen in /proc where
        // the system keeps no lock folder.
        const std::string heldBy = "In use by " + OwnProgramName() + " (pid " + std::to_string(::getppid()) + ").";
        const bool refused = !childPort.OpenPort("COM3:", kSettings) && childOp.messages.size() == 1 &&
                             childOp.messages[0].text.starts_with(Unavailable("COM3:", heldBy));
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process got the port";
}

TEST_F(OpenLine, TerminalIsExclusiveWhileOpenAndReleasedOnClose) {
    EXPECT_TRUE(SlaveExclusive(*line.pty));
    line.port.ClosePort();
    EXPECT_FALSE(SlaveExclusive(*line.pty));
}

TEST_F(OpenLine, OpeningAgainOverAnOpenPortReleasesTheOldHandle) {
    const std::set<int> before = OpenDescriptors();
    EXPECT_TRUE(line.Open());
    EXPECT_TRUE(line.op.messages.empty());
    EXPECT_EQ(OpenDescriptors(), before);
    line.port.ClosePort();
    EXPECT_EQ(OpenDescriptors().size(), before.size() - 1);
}

TEST(SerialPortOpen, MissingDeviceIsRefusedWithTheWarningBox) {
    RecordingOperator op;
    SerialPort port(op);
    port.SetDeviceNameMap([](const std::string&) { return std::string("/dev/veltra-no-such-tty"); });
    EXPECT_FALSE(port.OpenPort("COM9:", kSettings));
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text,
              Unavailable("COM9:", "No such device: /dev/veltra-no-such-tty is not there (is the adapter plugged in?)."));
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(op.messages[0].caption, "");

    EXPECT_EQ(port.ReadPort(), "");
    EXPECT_EQ(port.WritePort("abc"), 0);
    EXPECT_EQ(op.messages.size(), 1u) << "reads and writes on it show nothing";
}

TEST(SerialPortOpen, ComNamesMapToTheSystemsSerialDevices) {
    EXPECT_EQ(DefaultDeviceName("COM1:"), "/dev/ttyS0");
    EXPECT_EQ(DefaultDeviceName("COM3:"), "/dev/ttyS2");
    EXPECT_EQ(DefaultDeviceName("COM9:"), "/dev/ttyS8");
}

TEST(SerialPortOpen, NamesThatAreNoPortOpenNothing) {
    for (const std::string name : {"COM0:", "COM10:", "com1:", "COM1", "LPT1:", "/dev/ttyS0", ""}) {
        SCOPED_TRACE(name);
        RecordingOperator op;
        SerialPort port(op);
        EXPECT_FALSE(port.OpenPort(name, kSettings));
        EXPECT_FALSE(port.IsOpen());
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].text, Unavailable(name, "There is no such port on this machine."));
        EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
    }
}

// Not a terminal: refused at the open, with the reason, and the file is let
// go (its lock can be had again).
TEST(SerialPortOpen, NonTerminalIsRefusedAndReleased) {
    char plain[] = "/tmp/veltra-serial-plain-XXXXXX";
    const int plainFd = ::mkstemp(plain);
    ASSERT_GE(plainFd, 0);
    ::close(plainFd);

    for (const std::string& path : {std::string("/dev/null"), std::string(plain)}) {
        SCOPED_TRACE(path);
        RecordingOperator op;
        SerialPort port(op);
        port.SetDeviceNameMap([path](const std::string&) { return path; });
        EXPECT_FALSE(port.OpenPort("COM3:", kSettings));
        EXPECT_FALSE(port.IsOpen());
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].text, Unavailable("COM3:", path + " is not a serial device."));
        EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(op.messages[0].caption, "");

        const int probe = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(probe, 0);
        EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the refused file is still held";
        ::close(probe);
    }
    ::unlink(plain);
}

TEST(SerialPortOpen, MalformedSettingsAreRefusedAndThePortOpensAfterwards) {
    const std::string malformed[] = {
        "19200,n,8",     "abc",           "19200,x,8,1",   "19200,n,9,1",  "19200,n,4,1",
        "19200,n,8,3",   "19200,n,8,1.5", "19200,n,8,1,",  "",             "12345,n,8,1",
        ",n,8,1",        "19200,n,8,",    "19200,nn,8,1",  "-19200,n,8,1", "19200 ,n,8,1",
        "19200;n;8;1",   "19200,n,8,1 ",  "99999999999999999999,n,8,1",
    };
    Line line;
    for (const std::string& settings : malformed) {
        SCOPED_TRACE(settings);
        line.op.messages.clear();
        EXPECT_FALSE(line.Open(settings));
        EXPECT_FALSE(line.port.IsOpen());
        ASSERT_EQ(line.op.messages.size(), 1u);
        EXPECT_EQ(line.op.messages[0].text, "Unable to build Comm DCB " + settings + " Error: 22");
        EXPECT_EQ(line.op.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(line.op.messages[0].caption, "");
    }
    line.op.messages.clear();
    EXPECT_TRUE(line.Open());
    EXPECT_TRUE(line.op.messages.empty());
}

// ---- A port that is not open -------------------------------------------------

TEST(SerialPortClosed, NeverOpenedOrClosedPortReadsNothingAndWritesNothing) {
    for (const bool wasOpened : {false, true}) {
        SCOPED_TRACE(wasOpened ? "closed" : "never opened");
        Line line;
        if (wasOpened) {
            ASSERT_TRUE(line.Open());
            EXPECT_NE(line.port.ClosePort(), 0);
        }
        EXPECT_EQ(line.port.ClosePort(), 0) << "nothing is left to release";
        EXPECT_FALSE(line.port.IsOpen());

        ByteString got = "unset";
        const auto took = Timed([&] { got = line.port.ReadPort(); });
        EXPECT_EQ(got, "");
        EXPECT_GE(took, 200ms) << "an empty read lasts its total deadline";
        EXPECT_EQ(line.port.WritePort("abc"), 0);
        EXPECT_EQ(line.port.WritePort(""), 0);
        EXPECT_EQ(line.port.WritePort(Pattern(600)), 0);
        EXPECT_TRUE(line.op.messages.empty());
        EXPECT_EQ(MasterRead(line.Master(), 1, 50ms), "");
    }
}

// After the close the old descriptor number goes to whatever the process
// opens next; the port must not read or write through it.
TEST(SerialPortClosed, ClosedPortLeavesAReusedDescriptorAlone) {
    Line line;
    const std::set<int> before = OpenDescriptors();
    ASSERT_TRUE(line.Open());
    std::set<int> added = OpenDescriptors();
    for (const int fd : before) added.erase(fd);
    ASSERT_EQ(added.size(), 1u);
    const int old = *added.begin();

    // Made while the port still holds its number, so they get other numbers.
    int incoming[2];
    int outgoing[2];
    ASSERT_EQ(::pipe2(incoming, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_EQ(::pipe2(outgoing, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_EQ(::write(incoming[1], "stranger", 8), 8);
    line.port.ClosePort();

    // The old number now reads the stranger's data; the port leaves it there.
    ASSERT_EQ(::dup2(incoming[0], old), old);
    EXPECT_EQ(line.port.ReadPort(), "");
    char buf[16] = {};
    EXPECT_EQ(::read(incoming[0], buf, sizeof buf), 8);

    // The old number now writes into the stranger's pipe; the port stays out.
    ASSERT_EQ(::dup2(outgoing[1], old), old);
    EXPECT_EQ(line.port.WritePort("xyz"), 0);
    EXPECT_EQ(::read(outgoing[0], buf, sizeof buf), -1) << "the write reached the stranger's pipe";

    for (const int fd : {old, incoming[0], incoming[1], outgoing[0], outgoing[1]}) ::close(fd);
}

// ---- A port whose other end has gone ---------------------------------------

// A hung-up terminal is what a pulled adapter leaves: the read that meets it
// ends at once with one box, and the port is released as a close would.
// Nothing after it waits on the dead line or spins on it.
TEST_F(OpenLine, GoneOtherEndIsALostPortReleasedAtOnce) {
    line.pty.reset();

    const auto firstRead = Timed([&] { EXPECT_EQ(line.port.ReadPort(), ""); });
    EXPECT_LT(firstRead, 2000ms) << "the read waited on a dead line";
    EXPECT_TRUE(line.port.Lost());
    EXPECT_FALSE(line.port.IsOpen()) << "the dead port is released at once";
    EXPECT_EQ(line.op.MessageTexts(),
              std::vector<std::string>{"The port COM3: is gone (was the adapter unplugged?)"});
    EXPECT_EQ(line.op.messages.at(0).icon, MessageIcon::Warning);

    constexpr int kReads = 4;
    const double cpuBefore = ThreadCpuMs();
    const auto took = Timed([&] {
        for (int i = 0; i < kReads; ++i) EXPECT_EQ(line.port.ReadPort(), "");
    });
    const double cpuMs = ThreadCpuMs() - cpuBefore;
    EXPECT_LT(cpuMs, static_cast<double>(took.count()) / 4 + 5) << "reads after the loss spun the processor";
    EXPECT_EQ(line.port.WritePort("abc"), 0);
    EXPECT_EQ(line.port.WritePort(Pattern(600)), 0);
    EXPECT_EQ(line.op.messages.size(), 1u) << "one box for the loss, however often the port is used";
    EXPECT_EQ(line.port.ClosePort(), 0) << "nothing left to close";

    // A fresh line opens as new.
    line.pty = std::make_unique<sim::PtyPair>();
    line.port.SetDeviceNameMap([path = line.pty->SlavePath()](const std::string&) { return path; });
    ASSERT_TRUE(line.Open());
    EXPECT_FALSE(line.port.Lost());
}

// A write is where a pulled adapter shows first when nothing is being read.
TEST_F(OpenLine, WriteToAGoneLineIsALostPort) {
    line.pty.reset();
    EXPECT_EQ(line.port.WritePort(Pattern(600)), 0);
    EXPECT_TRUE(line.port.Lost());
    EXPECT_FALSE(line.port.IsOpen());
    EXPECT_EQ(line.op.messages.size(), 1u);
}

// The codes a failed read, write or flush leaves, and whether each means the
// device has gone rather than a passing fault.
TEST(SerialPortLoss, ErrorCodesThatMeanTheDeviceHasGone) {
    const struct {
        int code;
        bool lost;
    } cases[] = {
        {EIO, true},  {ENXIO, true},  {ENODEV, true},      {EBADF, true},
        {EAGAIN, false}, {EINTR, false}, {ETIMEDOUT, false}, {EINVAL, false}, {0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::IsPortLost(static_cast<std::uint32_t>(c.code)), c.lost) << std::strerror(c.code);
    }
}

}  // namespace
}  // namespace veltra
