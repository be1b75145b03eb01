// A port whose device goes away during an operation, as a pulled USB adapter
// does: the line hangs up in the middle of a download, through the core and
// through veltra-load, in and out of its line of devices. The run ends at once
// with one box saying the port is gone, reports what the device took, and
// leaves no lock behind.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "loader/Download.h"
#include "serial/PortGuardsPosix.h"
#include "serial/SerialPort.h"
#include "sim/LoaderDevice.h"
#include "support/ChildProgram.h"
#include "support/DeviceLines.h"
#include "support/PullableLine.h"
#include "support/RecordingOperator.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::BytesBeforeFrame;
using testing::ChildProgram;
using testing::WithoutSeconds;
using testing::PullableLine;
using testing::RecordingOperator;

// Generous bound for anything that must merely end, never a measurement.
constexpr auto kPatience = 60s;

class LostPort : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltra-lost-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = (dir_ / "device.bin").string();
        std::ofstream out(file_, std::ios::binary);
        for (int i = 0; i < 1000; ++i) out.put(static_cast<char>(i * 7 + 3));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
    std::string file_;  // 1000 bytes: sixteen blocks
};

TEST_F(LostPort, DownloadEndsAtOnceWithTheBoxOfTheGonePortAndWhatTheDeviceTook) {
    auto loader = std::make_shared<sim::LoaderDevice>();
    PullableLine line(loader, BytesBeforeFrame(5));
    RecordingOperator op;
    SerialPort port(op);
    port.SetDeviceNameMap([path = line.Path()](const std::string&) { return path; });
    ASSERT_TRUE(port.OpenPort("ttyUSB0", kDeviceLineSettings));
    ByteString wrs;
    const FirmwareChoice choice{file_, dir_.string() + "/", 1000};

    RunDownload(port, op, wrs, choice);

    EXPECT_TRUE(line.Pulled());
    EXPECT_EQ(loader->Frames().size(), 4u);
    EXPECT_EQ(op.LastStatus(), "Failed - 256 Bytes");
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"The port ttyUSB0 is gone (was the adapter unplugged?)"})
        << "the loss, not a part error";
    EXPECT_TRUE(port.Lost());
    EXPECT_FALSE(port.IsOpen());
}

// veltra-load exits 4 for a lost port, whenever the loss comes; its lock file
// (taken in the system's lock folder) is gone with it. A line of devices told
// not to wait for the port to come back ends at once as well.
TEST_F(LostPort, TerminalLoaderExitsWithThePortProblem) {
    struct Case {
        const char* what;
        sim::LoaderOptions device;
        std::size_t pullAtByte;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {"in the middle of a download", {}, BytesBeforeFrame(5), {"--quiet"}, "Failed - 256 Bytes\n"},
        {"in the middle of a download in the line of devices", {}, BytesBeforeFrame(5), {"--loop", "--reconnect", "0", "--quiet"},
         "#1 Failed - 256 Bytes in S s\n"
         "1 device: 0 succeeded, 1 failed\n"},
        {"while the line of devices waits", {.handshakeAttempt = 1000}, 3, {"--loop", "--reconnect=0", "--quiet"},
         "0 devices: 0 succeeded, 0 failed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto loader = std::make_shared<sim::LoaderDevice>(c.device);
        PullableLine line(loader, c.pullAtByte);
        std::vector<std::string> args{"--port", line.Path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(file_);
        ChildProgram load(VELTRA_LOAD_PROGRAM, args);
        EXPECT_EQ(load.Finish(kPatience), 4) << load.ErrorOutput();
        EXPECT_TRUE(line.Pulled());
        EXPECT_EQ(WithoutSeconds(load.Output()), c.out);
        EXPECT_EQ(load.ErrorOutput(), "The port " + line.Path() + " is gone (was the adapter unplugged?)\n");
        EXPECT_FALSE(fs::exists(platform::posix::LockFilePath("/run/lock", line.Path())));
    }
}

}  // namespace
}  // namespace veltra
