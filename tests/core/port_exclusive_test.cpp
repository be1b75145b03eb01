// The port is the operator's alone while it is open: a port that another
// program holds (by its lock file, or simply open) is refused, and the warning
// box says who holds it; a lock left by a program that is gone is taken over
// and given back on close. Over real pseudo-terminals, with other processes.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "support/Holders.h"
#include "support/RecordingOperator.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using testing::Holders;
using testing::kHolderName;
using testing::Pty;
using testing::RecordingOperator;

const std::string kSettings = "19200,n,8,1";
const std::string kFirstLine = "Com Port COM3: недоступен. Установите нужный порт.";

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TextLock(int pid) {
    const std::string digits = std::to_string(pid);
    return std::string(10 - digits.size(), ' ') + digits + "\n";
}

// A pseudo-terminal nobody holds, a port opening it as "COM3:", a private
// lock folder, and the other processes of a test.
class ExclusivePort : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltra-port-locks-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        lockDir_ = pattern;
        // The lock of /dev/pts/N is LCK..pts_N.
        std::string name = pty_.Path().substr(std::string("/dev/").size());
        for (char& c : name) c = c == '/' ? '_' : c;
        lockFile_ = lockDir_ / ("LCK.." + name);
        port_.SetDeviceNameMap([path = pty_.Path()](const std::string&) { return path; });
        port_.SetOpenGuards({lockDir_.string(), "/proc"});
    }
    void TearDown() override {
        port_.ClosePort();
        fs::remove_all(lockDir_);
    }

    Pty pty_;
    Holders holders_;
    RecordingOperator op_;
    SerialPort port_{op_};
    fs::path lockDir_;
    fs::path lockFile_;
};

TEST_F(ExclusivePort, LockFileOfALiveProgramRefusesThePortAndNamesIt) {
    const int holder = holders_.Start();
    ASSERT_GT(holder, 0) << holders_.Problem();
    std::ofstream(lockFile_) << TextLock(holder);

    EXPECT_FALSE(port_.OpenPort("COM3:", kSettings));
    ASSERT_EQ(op_.messages.size(), 1u);
    EXPECT_EQ(op_.messages[0].text, kFirstLine + "\nIn use by " + kHolderName + " (pid " + std::to_string(holder) +
                                        "). It holds the lock file " + lockFile_.string() + ".");
    EXPECT_EQ(op_.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(ReadWhole(lockFile_), TextLock(holder)) << "somebody else's lock is left alone";
}

TEST_F(ExclusivePort, StaleLockIsTakenOverAndRemovedOnClose) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    std::ofstream(lockFile_) << TextLock(gone);

    ASSERT_TRUE(port_.OpenPort("COM3:", kSettings)) << (op_.messages.empty() ? "" : op_.messages[0].text);
    EXPECT_EQ(ReadWhole(lockFile_), TextLock(::getpid()));
    EXPECT_NE(port_.ClosePort(), 0);
    EXPECT_FALSE(fs::exists(lockFile_));
}

TEST_F(ExclusivePort, LockIsTakenWhileOpenAndGivenBackWhenThePortGoes) {
    {
        RecordingOperator op;
        SerialPort port(op);
        port.SetDeviceNameMap([path = pty_.Path()](const std::string&) { return path; });
        port.SetOpenGuards({lockDir_.string(), "/proc"});
        ASSERT_TRUE(port.OpenPort("COM3:", kSettings));
        EXPECT_EQ(ReadWhole(lockFile_), TextLock(::getpid()));
    }  // never closed: the port goes with its owner, as when the window closes
    EXPECT_FALSE(fs::exists(lockFile_));
}

TEST_F(ExclusivePort, ProgramHoldingThePortOpenWithoutALockIsNamed) {
    const int holder = holders_.Start(pty_.Path());
    ASSERT_GT(holder, 0) << holders_.Problem();

    EXPECT_FALSE(port_.OpenPort("COM3:", kSettings));
    ASSERT_EQ(op_.messages.size(), 1u);
    EXPECT_EQ(op_.messages[0].text,
              kFirstLine + "\nIn use by " + kHolderName + " (pid " + std::to_string(holder) + ").");
    EXPECT_FALSE(fs::exists(lockFile_)) << "the lock taken for the attempt is given back";
}

// The terminal the kernel writes its console messages to is refused before it
// is opened; the same terminal opens where it is not the console.
TEST_F(ExclusivePort, SystemConsoleIsRefusedBeforeTheOpen) {
    const std::string kernelName = pty_.Path().substr(std::string("/dev/").size());  // "pts/3"
    struct Case {
        std::string consoleList;
        bool refused;
    };
    const Case cases[] = {
        {"tty0 " + kernelName + "\n", true},
        {kernelName + "\n", true},
        {"tty0 ttyS0\n", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.consoleList);
        const fs::path list = lockDir_ / "console-active";
        std::ofstream(list, std::ios::trunc) << c.consoleList;
        RecordingOperator op;
        SerialPort port(op);
        port.SetDeviceNameMap([path = pty_.Path()](const std::string&) { return path; });
        port.SetOpenGuards({lockDir_.string(), "/proc", list.string()});
        EXPECT_EQ(port.OpenPort("COM3:", kSettings), !c.refused);
        if (c.refused) {
            EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{
                                             kFirstLine + "\n" + pty_.Path() +
                                             " is the system console: the kernel writes its messages there, so it "
                                             "carries no transfer."});
            EXPECT_FALSE(fs::exists(lockFile_)) << "nothing is taken for a refused port";
        }
        port.ClosePort();
    }
}

// As an ordinary user outside the device's group: the box says which group
// gives the right. Needs root to become that user.
TEST_F(ExclusivePort, PermissionDeniedNamesTheDevicesGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to open as another user";
    // As a USB adapter's node is on Debian: root, group dialout, mode 0660.
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) GTEST_SKIP() << "no dialout group on this system";
    const std::string groupName = dialout->gr_name;
    ASSERT_EQ(::chown(pty_.Path().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(pty_.Path().c_str(), 0660), 0);

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        // nobody, in no group of its own that could open the device.
        const gid_t none = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(none) != 0 || ::setuid(65534) != 0) ::_exit(2);
        port_.SetOpenGuards({"/nonexistent", "/proc"});
        const bool refused = !port_.OpenPort("COM3:", kSettings) && op_.messages.size() == 1;
        const std::string text = refused ? op_.messages[0].text : std::string{};
        if (::write(pipeFds[1], text.data(), text.size()) < 0) ::_exit(3);
        ::_exit(refused ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the port opened for a user without the right";
    EXPECT_EQ(text, kFirstLine + "\nPermission denied: this user may not use " + pty_.Path() +
                        ". Add the user to the group " + groupName + " (sudo usermod -aG " + groupName +
                        " $USER), then log in again.");
}

}  // namespace
}  // namespace veltra
