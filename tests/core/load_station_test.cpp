// veltra-load --loop on several ports at once, as a child process against
// simulated devices of this process, each on a real pseudo-terminal of its own.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"
#include "support/DeviceLines.h"
#include "support/LoadRun.h"
#include "support/LogLines.h"
#include "support/PullableLine.h"
#include "support/TempFolder.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using testing::ChildProgram;
using testing::LineFor;
using testing::Lines;
using testing::Padded;
using testing::LogLines;
using testing::Sha256Of;
using testing::WithoutSeconds;

constexpr auto kPatience = testing::kLoadPatience;
constexpr sim::DeviceOptions kPaced{.paceLine = true, .baud = 19200};

// The lines one port printed, in its order, without the port's name: the
// ports' lines mix in whatever order their devices end.
std::vector<std::string> LinesOf(const std::string& output, const std::string& port) {
    std::vector<std::string> mine;
    for (const std::string& line : Lines(WithoutSeconds(output))) {
        if (line.rfind(port + ": ", 0) == 0) mine.push_back(line.substr(port.size() + 2));
    }
    return mine;
}

// Every line of the output begins with the name of the port it is about,
// but the total at the end.
void ExpectEveryLineNamesItsPort(const std::string& output, const std::vector<std::string>& ports) {
    for (const std::string& line : Lines(output)) {
        if (line.rfind("All ", 0) == 0) continue;
        EXPECT_TRUE(std::any_of(ports.begin(), ports.end(),
                                [&](const std::string& port) { return line.rfind(port + ": ", 0) == 0; }))
            << "a line without its port: " << line;
    }
    EXPECT_EQ(output.find('\r'), std::string::npos) << "no redrawing off a terminal";
}

// Whether every port has printed `text` on a line.
auto EveryPortSaid(const std::vector<std::string>& ports, const std::string& text) {
    return [ports, text](const std::string& output) {
        return std::all_of(ports.begin(), ports.end(), [&](const std::string& port) {
            return output.find(port + ": " + text + "\n") != std::string::npos;
        });
    };
}

std::vector<std::string> LoopArgs(const std::vector<std::string>& ports, std::vector<std::string> tail) {
    std::vector<std::string> args{"--loop"};
    for (const std::string& port : ports) args.insert(args.end(), {"--port", port});
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
}

class LoadStation : public ::testing::Test {
protected:
    void SetUp() override { firmware_ = WriteFirmware(200); }

    // A file of `size` bytes as the one to load; its bytes.
    ByteString WriteFirmware(std::size_t size) {
        ByteString bytes;
        for (std::size_t i = 0; i < size; ++i) AppendByte(bytes, static_cast<std::uint8_t>((i * 11 + 5) % 251));
        std::ofstream(file_, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

    testing::TempFolder folder_{"veltra-station"};
    const fs::path& dir_ = folder_.Path();
    const std::string file_ = (dir_ / "device.bin").string();
    ByteString firmware_;  // 200 bytes: four blocks
};

// Three lines at once, one device refusing a block: the other two are
// flashed byte-exact, each port's log line says what its device did, and the
// run ends with the code of the failed one.
TEST_F(LoadStation, ThreePortsOneRefusingABlock) {
    const sim::LoaderOptions good{};
    const sim::LoaderOptions refusing{.refuseBlock = 3};
    std::vector<std::shared_ptr<sim::LoaderDevice>> devices;
    std::vector<std::unique_ptr<sim::SimDevice>> lines;
    std::vector<std::string> ports;
    for (const sim::LoaderOptions& options : {good, refusing, good}) {
        devices.push_back(std::make_shared<sim::LoaderDevice>(options));
        lines.push_back(LineFor(devices.back()));
        ports.push_back(lines.back()->Path());
    }
    const std::string log = (dir_ / "station.jsonl").string();

    const auto before = std::chrono::system_clock::now();
    ChildProgram load(VELTRA_LOAD_PROGRAM, LoopArgs(ports, {"--log", log, file_}));
    ASSERT_TRUE(load.WaitForOutputWhere(EveryPortSaid(ports, "Waiting for device 1 to be taken off the line"),
                                        kPatience))
        << load.Output();
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 1) << load.ErrorOutput();
    const auto after = std::chrono::system_clock::now();

    EXPECT_EQ(devices[0]->Firmware(), Padded(firmware_));
    EXPECT_EQ(devices[2]->Firmware(), Padded(firmware_));
    const std::vector<std::string> flashed{"Waiting for the next device", "#1 Successful - 256 Bytes in S s",
                                           "Waiting for device 1 to be taken off the line",
                                           "1 device: 1 succeeded, 0 failed"};
    EXPECT_EQ(LinesOf(load.Output(), ports[0]), flashed);
    EXPECT_EQ(LinesOf(load.Output(), ports[2]), flashed);
    EXPECT_EQ(LinesOf(load.Output(), ports[1]),
              (std::vector<std::string>{"Waiting for the next device", "#1 Failed - 128 Bytes in S s",
                                        "Waiting for device 1 to be taken off the line",
                                        "1 device: 0 succeeded, 1 failed"}));
    EXPECT_EQ(Lines(load.Output()).back(), "All 3 ports, 3 devices: 2 succeeded, 1 failed");
    EXPECT_EQ(Lines(load.ErrorOutput()),
              (std::vector<std::string>{ports[1] + ": Ошибка 1F !!!!", ports[1] + ":  data 3,part error"}));
    ExpectEveryLineNamesItsPort(load.Output(), ports);

    // One line a device, whatever order they ended in.
    std::map<std::string, nlohmann::json> byPort;
    for (const nlohmann::json& line : LogLines(log)) byPort[line.value("port", "")] = line;
    ASSERT_EQ(byPort.size(), 3u) << "one line for each port";
    const std::string hash = Sha256Of(firmware_);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(ports[i]);
        ASSERT_EQ(byPort.count(ports[i]), 1u);
        const nlohmann::json& l = byPort[ports[i]];
        const bool refused = i == 1;
        testing::ExpectLineShape(l);
        testing::ExpectTimeWithin(l, before, after);
        EXPECT_EQ(l.value("adapter", "?"), "");
        EXPECT_EQ(l.value("device", 0), 1);
        EXPECT_EQ(l.value("operation", ""), "download");
        EXPECT_EQ(l.value("file", ""), file_);
        EXPECT_EQ(l.value("size", 0), 200);
        EXPECT_EQ(l.value("sha256", ""), hash);
        EXPECT_EQ(l.value("result", ""), refused ? "Failed - 128 Bytes" : "Successful - 256 Bytes");
        EXPECT_EQ(l.value("bytes", -1), refused ? 128 : 256);
        EXPECT_GE(l.value("seconds", -1.0), 0.0);
        EXPECT_EQ(l.value("exit", -1), refused ? 1 : 0);
    }
}

// The first interrupt, with two ports in the middle of a download: each
// device is finished, then the run ends; nothing failed.
TEST_F(LoadStation, InterruptDuringDownloadsOnTwoPortsFinishesBothDevices) {
    // Paced at the line's rate, so that both downloads are still running when the interrupt comes.
    const ByteString firmware = WriteFirmware(1500);
    std::vector<std::shared_ptr<sim::LoaderDevice>> devices;
    std::vector<std::unique_ptr<sim::SimDevice>> lines;
    std::vector<std::string> ports;
    for (int i = 0; i < 2; ++i) {
        devices.push_back(std::make_shared<sim::LoaderDevice>());
        lines.push_back(LineFor(devices.back(), kPaced));
        ports.push_back(lines.back()->Path());
    }

    ChildProgram load(VELTRA_LOAD_PROGRAM, LoopArgs(ports, {file_}));
    // The wake-up and two frames in on both lines: both downloads have begun.
    for (const auto& line : lines) ASSERT_TRUE(line->WaitForReceived(1 + 2 * 67, kPatience));
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();

    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(ports[i]);
        EXPECT_EQ(devices[i]->Firmware(), Padded(firmware)) << "the device was cut off in the middle";
        EXPECT_EQ(LinesOf(load.Output(), ports[i]),
                  (std::vector<std::string>{"Waiting for the next device", "#1 Successful - 1536 Bytes in S s",
                                            "1 device: 1 succeeded, 0 failed"}));
        EXPECT_EQ(LinesOf(load.ErrorOutput(), ports[i]),
                  std::vector<std::string>{"Interrupted: stopping after device 1 (interrupt again to end at once)"});
    }
    EXPECT_EQ(Lines(load.Output()).back(), "All 2 ports, 2 devices: 2 succeeded, 0 failed");
}

// An adapter pulled out on one port holds up that port's line only: the other
// port's download goes on to its end, and its line waits on as before, while
// the lost port waits for its adapter to come back (here in vain).
TEST_F(LoadStation, LostPortLeavesTheOtherPortsRunning) {
    const ByteString firmware = WriteFirmware(1500);
    auto pulledDevice = std::make_shared<sim::LoaderDevice>();
    testing::PullableLine pulled(pulledDevice, testing::BytesBeforeFrame(5));
    // The pulled adapter's name goes with it, as a USB adapter's node does:
    // the number of a pseudo-terminal that has gone is soon another's.
    const std::string pulledName = (dir_ / ("ttyUSB-" + dir_.filename().string())).string();
    fs::create_symlink(pulled.Path(), pulledName);
    auto device = std::make_shared<sim::LoaderDevice>();
    const auto line = LineFor(device, kPaced);
    const std::vector<std::string> ports{pulledName, line->Path()};

    ChildProgram load(VELTRA_LOAD_PROGRAM, LoopArgs(ports, {file_}));
    ASSERT_TRUE(load.WaitForOutput(ports[0] + ": Waiting for the next device\n", kPatience)) << load.Output();
    fs::remove(pulledName);
    ASSERT_TRUE(load.WaitForOutput(ports[0] + ": port gone, waiting up to 30 s for it to come back\n", kPatience))
        << load.Output();
    ASSERT_TRUE(load.WaitForOutput(ports[1] + ": Waiting for device 1 to be taken off the line\n", kPatience))
        << load.Output();
    EXPECT_TRUE(pulled.Pulled());
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 4) << "the lost port's code: " << load.ErrorOutput();

    EXPECT_EQ(device->Firmware(), Padded(firmware));
    EXPECT_EQ(LinesOf(load.Output(), ports[0]),
              (std::vector<std::string>{"Waiting for the next device", "#1 Failed - 256 Bytes in S s",
                                        "port gone, waiting up to 30 s for it to come back",
                                        "1 device: 0 succeeded, 1 failed"}));
    EXPECT_EQ(LinesOf(load.Output(), ports[1]),
              (std::vector<std::string>{"Waiting for the next device", "#1 Successful - 1536 Bytes in S s",
                                        "Waiting for device 1 to be taken off the line",
                                        "1 device: 1 succeeded, 0 failed"}));
    EXPECT_EQ(LinesOf(load.ErrorOutput(), ports[0]),
              (std::vector<std::string>{"The port " + ports[0] + " is gone (was the adapter unplugged?)",
                                        "Interrupted: the port " + ports[0] + " has not come back"}));
    EXPECT_EQ(LinesOf(load.ErrorOutput(), ports[1]), std::vector<std::string>{});
    // The pulled line went at its fifth frame, long before the paced one's end.
    const std::string out = load.Output();
    EXPECT_LT(out.find(ports[0] + ": #1 Failed"), out.find(ports[1] + ": #1 Successful")) << out;
}

// What only the ports themselves can tell wrong: two names of one port, and
// several ports without --loop; nothing reaches any line.
TEST_F(LoadStation, UsageErrorsTouchNoPort) {
    auto device = std::make_shared<sim::LoaderDevice>();
    const auto line = LineFor(device);
    const std::string link = (dir_ / "same-line").string();
    fs::create_symlink(line->Path(), link);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"one port twice", LoopArgs({line->Path(), line->Path()}, {file_}),
         "veltra-load: --port " + line->Path() + " is given twice (--help lists the options)\n"},
        {"a port and a link to it", LoopArgs({line->Path(), link}, {file_}),
         "veltra-load: --port " + line->Path() + " and --port " + link + " are the same port (" + line->Path() +
             ") (--help lists the options)\n"},
        {"several ports without --loop", {"--port", line->Path(), "--port", link, file_},
         "veltra-load: several ports go with --loop only: one line of devices on each (--help lists the options)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testing::Ended run = testing::LoadToTheEnd(c.args);
        EXPECT_EQ(run.code, 64);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(line->Received().empty()) << "nothing reached the line";
}

}  // namespace
}  // namespace veltra::terminal
