// The guards that keep a port the operator's while flashing: the UUCP lock
// file of the device, and the look through /proc for another process that has
// the device open without any lock. Other holders are forked children that
// wait on a pipe until the test lets them go.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "serial/PortGuardsPosix.h"
#include "support/Holders.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using platform::posix::FindOtherOpener;
using platform::posix::LockFilePath;
using platform::posix::LockResult;
using platform::posix::PortHolder;
using platform::posix::ReleaseLock;
using platform::posix::TakeLock;
using testing::kHolderName;
using testing::Pty;

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The HDB form: the pid in ten characters, right-aligned, then a newline.
std::string TextLock(int pid) {
    const std::string digits = std::to_string(pid);
    return std::string(10 - digits.size(), ' ') + digits + "\n";
}

std::string BinaryLock(int pid) {
    std::string bytes(sizeof pid, '\0');
    std::memcpy(bytes.data(), &pid, sizeof pid);
    return bytes;
}

// A pid that belonged to a process which has ended and been reaped.
int GonePid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    EXPECT_GT(child, 0);
    EXPECT_EQ(::waitpid(child, nullptr, 0), child);
    return child;
}

// A temporary lock folder, and the children a test starts: every child is
// killed and reaped in the teardown, whatever the test did.
class PortGuards : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltra-locks-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        lockDir_ = pattern;
        lockFile_ = LockFilePath(lockDir_.string(), "/dev/ttyUSB0");
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(lockDir_, ignored);
    }

    fs::path lockDir_;
    std::string lockFile_;

    int StartHolder(const std::string& path = {}) {
        const int pid = holders_.Start(path);
        if (pid < 0) ADD_FAILURE() << holders_.Problem();
        return pid;
    }

private:
    testing::Holders holders_;
};

// ---- The lock file's name -----------------------------------------------------

TEST(PortGuardsLockFilePath, NamesTheLockAfterTheDevice) {
    struct Case {
        const char* device;
        const char* lock;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", "/run/lock/LCK..ttyUSB0"},
        {"/dev/ttyACM1", "/run/lock/LCK..ttyACM1"},
        {"/dev/pts/3", "/run/lock/LCK..pts_3"},
        {"/dev/serial/by-id/x", "/run/lock/LCK..serial_by-id_x"},
        {"/tmp/foo", "/run/lock/LCK..foo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        EXPECT_EQ(LockFilePath("/run/lock", c.device), c.lock);
    }
}

// ---- Taking and releasing the lock --------------------------------------------

TEST_F(PortGuards, FreeLockIsTakenWithOurPidAndReleasedWithoutATrace) {
    PortHolder holder{1, "stale"};
    const mode_t before = ::umask(077);  // other tools must still read the pid
    const LockResult result = TakeLock(lockFile_, holder);
    ::umask(before);
    ASSERT_EQ(result, LockResult::Taken);
    EXPECT_EQ(ReadWhole(lockFile_), TextLock(::getpid()));
    EXPECT_EQ(holder.pid, 0);
    struct stat st {};
    ASSERT_EQ(::stat(lockFile_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    // The second take of a port this process already holds is no conflict.
    EXPECT_EQ(TakeLock(lockFile_, holder), LockResult::Taken);
    EXPECT_EQ(ReadWhole(lockFile_), TextLock(::getpid()));

    EXPECT_EQ(std::distance(fs::directory_iterator(lockDir_), fs::directory_iterator()), 1)
        << "the lock is the only file the take leaves";
    ReleaseLock(lockFile_);
    EXPECT_FALSE(fs::exists(lockFile_));
    EXPECT_TRUE(fs::is_empty(lockDir_));
}

TEST_F(PortGuards, LockOfALiveProcessIsHeldByItAndLeftAsItWas) {
    const int other = StartHolder();
    ASSERT_GT(other, 0);
    struct Case {
        const char* form;
        std::string content;
    };
    const Case cases[] = {
        {"text", TextLock(other)},
        {"old binary", BinaryLock(other)},
        {"text with the program and user after the pid", TextLock(other).substr(0, 10) + " minicom root\n"},
        {"text without padding", std::to_string(other) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form);
        WriteWhole(lockFile_, c.content);
        PortHolder holder;
        EXPECT_EQ(TakeLock(lockFile_, holder), LockResult::HeldByOther);
        EXPECT_EQ(holder.pid, other);
        EXPECT_EQ(holder.program, kHolderName);
        EXPECT_EQ(ReadWhole(lockFile_), c.content);
    }
}

TEST_F(PortGuards, StaleLockIsTakenOver) {
    const int gone = GonePid();
    struct Case {
        const char* what;
        std::string content;
    };
    // 0 and negative numbers are no pids: kill() would take them for process
    // groups that are alive.
    const Case cases[] = {
        {"pid of a process that has ended", TextLock(gone)},
        {"old binary pid of a process that has ended", BinaryLock(gone)},
        {"garbage", "not a pid\n"},
        {"digits run into letters", "1234abc\n"},
        {"empty", ""},
        {"zero", TextLock(0)},
        {"negative", "        -1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWhole(lockFile_, c.content);
        PortHolder holder;
        ASSERT_EQ(TakeLock(lockFile_, holder), LockResult::Taken);
        EXPECT_EQ(ReadWhole(lockFile_), TextLock(::getpid()));
        ReleaseLock(lockFile_);
        EXPECT_FALSE(fs::exists(lockFile_));
    }
}

TEST_F(PortGuards, ReleaseLeavesALockThatIsNotOurs) {
    const int other = StartHolder();
    ASSERT_GT(other, 0);
    for (const std::string& content : {TextLock(other), TextLock(GonePid()), std::string("garbage\n")}) {
        SCOPED_TRACE(content);
        WriteWhole(lockFile_, content);
        ReleaseLock(lockFile_);
        EXPECT_EQ(ReadWhole(lockFile_), content);
    }
}

TEST_F(PortGuards, FolderThatCannotHoldALockMeansGoingOnWithout) {
    const fs::path plainFile = lockDir_ / "plain";
    WriteWhole(plainFile, "x");
    for (const fs::path& folder : {lockDir_ / "missing", plainFile}) {
        SCOPED_TRACE(folder);
        PortHolder holder;
        EXPECT_EQ(TakeLock(LockFilePath(folder.string(), "/dev/ttyUSB0"), holder), LockResult::NoLockDir);
    }
}

// Root writes into a read-only folder all the same, so this shows only for
// an ordinary user.
TEST_F(PortGuards, ReadOnlyFolderMeansGoingOnWithout) {
    if (::geteuid() == 0) GTEST_SKIP() << "root is not held back by folder permissions";
    fs::permissions(lockDir_, fs::perms::owner_read | fs::perms::owner_exec);
    PortHolder holder;
    EXPECT_EQ(TakeLock(lockFile_, holder), LockResult::NoLockDir);
    fs::permissions(lockDir_, fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(lockDir_));
}

// ---- Another process with the port open ----------------------------------------

TEST_F(PortGuards, ProcessThatHasThePortOpenWithoutALockIsFound) {
    const Pty pty;
    const int other = StartHolder(pty.Path());
    ASSERT_GT(other, 0);
    // Through a link as well, as under /dev/serial/by-id: the device counts, not its name.
    const fs::path link = lockDir_ / "by-id-link";
    fs::create_symlink(pty.Path(), link);
    for (const std::string& path : {pty.Path(), link.string()}) {
        SCOPED_TRACE(path);
        const std::optional<PortHolder> found = FindOtherOpener(path);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->pid, other);
        EXPECT_EQ(found->program, kHolderName);
    }
}

TEST_F(PortGuards, PortOpenOnlyInThisProcessHasNoOtherOpener) {
    const Pty pty;
    const int fd = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    EXPECT_FALSE(FindOtherOpener(pty.Path()).has_value());
    ::close(fd);
}

TEST_F(PortGuards, ChildHoldingAnotherPtyIsNoOpenerOfOurs) {
    const Pty ours;
    const Pty theirs;
    const int other = StartHolder(theirs.Path());
    ASSERT_GT(other, 0);
    EXPECT_FALSE(FindOtherOpener(ours.Path()).has_value());
    const std::optional<PortHolder> found = FindOtherOpener(theirs.Path());
    ASSERT_TRUE(found.has_value()) << "the child is not seen at all";
    EXPECT_EQ(found->pid, other);
}

// Every regular file has device number 0: without the kind check any process
// with any file open would count as the port's opener.
TEST_F(PortGuards, PathThatIsNoCharacterDeviceHasNoOpener) {
    const fs::path plainFile = lockDir_ / "plain";
    WriteWhole(plainFile, "x");
    ASSERT_GT(StartHolder(plainFile.string()), 0);
    for (const fs::path& path : {plainFile, lockDir_ / "missing"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(FindOtherOpener(path.string()).has_value());
    }
}

}  // namespace
}  // namespace veltra
