// veltra-load --loop when the adapter of its port is pulled out in the middle
// of a download and comes back: the cut-off device is recorded as failed
// with the port problem and waited off the line, never flashed again by
// itself; the next device is flashed from its first block.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serial/PortGuardsPosix.h"
#include "sim/LoaderDevice.h"
#include "support/ChildProgram.h"
#include "support/DeviceLines.h"
#include "support/LineOfDevices.h"
#include "support/LoadRun.h"
#include "support/LogLines.h"
#include "support/ReplugLine.h"
#include "support/TempFolder.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::LineOfDevices;
using testing::LogLines;
using testing::Padded;
using testing::ReplugLine;
using testing::WithoutSeconds;

constexpr auto kPatience = testing::kLoadPatience;
// Bytes of the wake-up and two block frames: the download has begun.
constexpr std::size_t kTwoFramesIn = 1 + 2 * sim::LoaderDevice::kFrameSize;

// "port back as NAME after 1.2 s": the seconds vary.
std::string WithoutReturnTime(const std::string& out) {
    return std::regex_replace(WithoutSeconds(out), std::regex(" after [0-9]+\\.[0-9] s\n"), " after S s\n");
}

// "Failed - 128 Bytes": how far a download got before the pull varies.
std::string WithoutTook(const std::string& out) {
    return std::regex_replace(out, std::regex("Failed - [0-9]+ Bytes"), "Failed - N Bytes");
}

class PortReturn : public ::testing::Test {
protected:
    PortReturn() {
        // 1000 bytes at the line's pace: the download lasts long enough to be cut off.
        for (int i = 0; i < 1000; ++i) AppendByte(firmware_, static_cast<std::uint8_t>(i * 13 + 5));
        std::ofstream(file_, std::ios::binary).write(firmware_.data(), static_cast<std::streamsize>(firmware_.size()));
    }

    static constexpr sim::DeviceOptions kPaced{.paceLine = true, .baud = 19200};

    // The lock file of a name outside /dev is named after its last part:
    // the tests that run at once each have a name of their own.
    fs::path LinkName() const { return dir_ / ("ttyUSB-" + dir_.filename().string()); }

    void ExpectNoLockLeft(const ReplugLine& line) {
        for (const std::string& path : {line.Name(), line.Adapter()}) {
            if (path.empty()) continue;
            EXPECT_FALSE(fs::exists(platform::posix::LockFilePath("/run/lock", path))) << path;
        }
    }

    testing::TempFolder folder_{"veltra-return"};
    const fs::path& dir_ = folder_.Path();
    ByteString firmware_;
    std::string file_ = (dir_ / "device.bin").string();
    std::string log_ = (dir_ / "devices.jsonl").string();
};

// The whole day's glitch: pulled in the middle of device 1, back two seconds
// later; device 1 still on the line is waited off, device 2 is flashed whole.
TEST_F(PortReturn, LineGoesOnWithTheNextDeviceAfterThePortComesBack) {
    auto lineOfDevices = std::make_shared<LineOfDevices>();
    auto first = std::make_shared<sim::LoaderDevice>();
    auto second = std::make_shared<sim::LoaderDevice>();
    lineOfDevices->Put(first);
    ReplugLine line(LinkName(), lineOfDevices, kPaced);

    ChildProgram load(VELTRA_LOAD_PROGRAM, {"--port", line.Name(), "--loop", "--log", log_, file_});
    ASSERT_TRUE(line.Plugged()->WaitForReceived(kTwoFramesIn, kPatience)) << load.Output();
    line.Pull();
    ASSERT_TRUE(load.WaitForOutput("port gone, waiting up to 30 s for it to come back\n", kPatience))
        << load.Output() << load.ErrorOutput();
    const ByteString cutOff = first->Firmware();
    EXPECT_LT(cutOff.size(), Padded(firmware_).size()) << "the pull came too late to cut the download off";
    std::this_thread::sleep_for(2s);
    line.Plug();

    // Device 1, still in the middle of a frame, answers the probes: it stays
    // on the line until it is taken off, and takes nothing as a block.
    ASSERT_TRUE(load.WaitForOutput("Waiting for device 1 to be taken off the line\n", kPatience)) << load.Output();
    ASSERT_TRUE(line.Plugged()->WaitForReceived(3 * sim::LoaderDevice::kFrameSize, kPatience));
    EXPECT_EQ(load.Output().find("Waiting for the next device", load.Output().find("port back")), std::string::npos)
        << "the device still on the line was taken for gone: " << load.Output();
    EXPECT_EQ(first->Firmware(), cutOff) << "the cut-off device took a probe as a block";

    lineOfDevices->Put(nullptr);
    ASSERT_TRUE(load.WaitForOutputWhere(
        [](const std::string& out) {
            return out.find("Waiting for the next device", out.find("port back")) != std::string::npos;
        },
        kPatience))
        << load.Output();
    lineOfDevices->Put(second);
    ASSERT_TRUE(load.WaitForOutput("Waiting for device 2 to be taken off the line\n", kPatience)) << load.Output();
    EXPECT_EQ(second->Firmware(), Padded(firmware_)) << "the next device did not get the whole image from block 1";
    EXPECT_EQ(second->HandshakeAttempts(), 1);

    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 4) << "device 1 failed with the port problem: " << load.ErrorOutput();
    EXPECT_EQ(WithoutTook(WithoutReturnTime(load.Output())),
              "Waiting for the next device\n"
              "#1 Failed - N Bytes in S s\n"
              "port gone, waiting up to 30 s for it to come back\n"
              "port back as " + line.Name() + " after S s\n"
              "Waiting for device 1 to be taken off the line\n"
              "Waiting for the next device\n"
              "#2 Successful - 1024 Bytes in S s\n"
              "Waiting for device 2 to be taken off the line\n"
              "2 devices: 1 succeeded, 1 failed, 1 reconnect\n");
    EXPECT_EQ(load.ErrorOutput(), "The port " + line.Name() + " is gone (was the adapter unplugged?)\n")
        << "the tries while the port was away must stay quiet";

    const auto records = LogLines(log_);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].value("device", 0), 1);
    EXPECT_EQ(records[0].value("exit", -1), 4);
    EXPECT_EQ(WithoutTook(records[0].value("result", "")), "Failed - N Bytes");
    EXPECT_EQ(records[1].value("device", 0), 2);
    EXPECT_EQ(records[1].value("exit", -1), 0);
    EXPECT_EQ(records[1].value("result", ""), "Successful - 1024 Bytes");
    ExpectNoLockLeft(line);
}

// A port that does not come back ends its line with the port problem: at
// once with --reconnect 0, as without the wait; after the bound; or at once on
// Ctrl-C during the wait.
TEST_F(PortReturn, PortThatDoesNotComeBackEndsTheLineWithThePortProblem) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool interrupt;
        std::string out;
        std::string errAfterLoss;
    };
    const Case cases[] = {
        {"--reconnect 0", {"--reconnect", "0"}, false,
         "Waiting for the next device\n"
         "#1 Failed - N Bytes in S s\n"
         "1 device: 0 succeeded, 1 failed\n",
         ""},
        {"a bound that passes", {"--reconnect", "1"}, false,
         "Waiting for the next device\n"
         "#1 Failed - N Bytes in S s\n"
         "port gone, waiting up to 1 s for it to come back\n"
         "1 device: 0 succeeded, 1 failed\n",
         "Com Port NAME недоступен. Установите нужный порт. — No such device: NAME is not there (is the adapter "
         "plugged in?).\n"
         "NAME Not available!\n"
         "The port NAME has not come back within 1 s\n"},
        {"Ctrl-C during the wait", {}, true,
         "Waiting for the next device\n"
         "#1 Failed - N Bytes in S s\n"
         "port gone, waiting up to 30 s for it to come back\n"
         "1 device: 0 succeeded, 1 failed\n",
         "Interrupted: the port NAME has not come back\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto device = std::make_shared<sim::LoaderDevice>();
        ReplugLine line(LinkName(), device, kPaced);
        std::vector<std::string> args{"--port", line.Name(), "--loop"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(file_);
        ChildProgram load(VELTRA_LOAD_PROGRAM, args);
        ASSERT_TRUE(line.Plugged()->WaitForReceived(kTwoFramesIn, kPatience)) << load.Output();
        line.Pull();
        if (c.interrupt) {
            ASSERT_TRUE(load.WaitForOutput("for it to come back\n", kPatience)) << load.Output();
            load.Signal(SIGINT);
        }
        EXPECT_EQ(load.Finish(kPatience), 4) << load.ErrorOutput();
        EXPECT_EQ(WithoutTook(WithoutSeconds(load.Output())), c.out);
        std::string err = "The port NAME is gone (was the adapter unplugged?)\n" + c.errAfterLoss;
        err = std::regex_replace(err, std::regex("NAME"), line.Name());
        EXPECT_EQ(load.ErrorOutput(), err);
        ExpectNoLockLeft(line);
    }
}

}  // namespace
}  // namespace veltra::terminal
