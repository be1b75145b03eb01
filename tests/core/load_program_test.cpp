// veltra-load, the download from a terminal, driven as a child process against
// a simulated device in this process over a real pseudo-terminal.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "serial/PortList.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"
#include "support/DeviceLines.h"
#include "support/LineOfDevices.h"
#include "support/LoadRun.h"
#include "support/TempFolder.h"
#include "support/LogLines.h"
#include "terminal/Commands.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::WithoutSeconds;
using testing::Ended;
using testing::ExpectPlain;
using testing::LineFor;
using testing::LineOfDevices;
using testing::Lines;
using testing::Padded;
using testing::LoadToTheEnd;
using testing::LogLines;
using testing::Sha256Of;

constexpr auto kPatience = testing::kLoadPatience;

class LoadProgram : public ::testing::Test {
protected:
    void SetUp() override {
        firmware_ = Firmware(200);
        file_ = (dir_ / "device.bin").string();
        std::ofstream(file_, std::ios::binary).write(firmware_.data(), static_cast<std::streamsize>(firmware_.size()));
    }

    static ByteString Firmware(std::size_t size) {
        ByteString bytes;
        for (std::size_t i = 0; i < size; ++i) AppendByte(bytes, static_cast<std::uint8_t>((i * 7 + 3) % 253));
        return bytes;
    }

    testing::TempFolder folder_{"veltra-load"};
    const fs::path& dir_ = folder_.Path();
    ByteString firmware_;  // 200 bytes: four blocks
    std::string file_;
};

TEST_F(LoadProgram, DownloadsTheFileByteExact) {
    struct Case {
        std::vector<std::string> options;
        std::string out;  // the whole output, or with --verbose its last line
    };
    const Case cases[] = {
        {{}, "Wait connecting\nDownloading\nSuccessful - 256 Bytes\n"},
        {{"--quiet"}, "Successful - 256 Bytes\n"},
        {{"--verbose", "--wait", "5"}, "Successful - 256 Bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "plain" : c.options.front());
        auto loader = std::make_shared<sim::LoaderDevice>();
        const auto line = LineFor(loader);
        std::vector<std::string> args{"--port", line->Path()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(file_);

        const Ended run = LoadToTheEnd(args);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        ExpectPlain(run);
        EXPECT_EQ(loader->Firmware(), Padded(firmware_));
        EXPECT_EQ(loader->Frames().size(), 4u);
        if (c.options.empty() || c.options.front() != "--verbose") {
            EXPECT_EQ(run.out, c.out);
            continue;
        }
        // The traffic boxes, each box on one line: the frames sent, the replies.
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back() + "\n", c.out);
        EXPECT_EQ(lines.front(), "traffic: Running!");
        const auto count = [&](const std::string& start) {
            return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
        };
        EXPECT_EQ(count("traffic: A5 70 "), 3) << run.out;
        EXPECT_EQ(count("traffic: D2 70 "), 1) << run.out;
        EXPECT_EQ(count("reply: 55 70 41 D ,"), 4) << run.out;
        EXPECT_NE(run.out.find("\ntraffic: A5 70 3 A "), std::string::npos) << run.out;
    }
}

TEST_F(LoadProgram, RefusedBlockFailsWithWhatTheDeviceTook) {
    auto loader = std::make_shared<sim::LoaderDevice>(sim::LoaderOptions{.refuseBlock = 3});
    const auto line = LineFor(loader);
    const Ended run = LoadToTheEnd({"--port", line->Path(), file_});
    EXPECT_EQ(run.code, 1);
    ExpectPlain(run);
    EXPECT_EQ(run.out, "Wait connecting\nDownloading\nFailed - 128 Bytes\n");
    EXPECT_EQ(Lines(run.err), (std::vector<std::string>{"Ошибка 1F !!!!", " data 3,part error"}));
    EXPECT_EQ(loader->Frames().size(), 3u) << "nothing is sent after the refused block";
}

TEST_F(LoadProgram, SilentDeviceIsNoConnectionAfterTheWait) {
    const auto line = LineFor(std::make_shared<LineOfDevices>());
    const Ended run = LoadToTheEnd({"--port", line->Path(), "--wait", "1", file_});
    EXPECT_EQ(run.code, 2);
    ExpectPlain(run);
    EXPECT_EQ(run.out, "Wait connecting\nNo connection\n");
    EXPECT_EQ(run.err, "No answer from device. Keep waiting? — no\n");
    const ByteString received = line->Received();
    EXPECT_FALSE(received.empty());
    EXPECT_EQ(received, ByteString(received.size(), '\x7F')) << "only wake-ups";
}

TEST_F(LoadProgram, FileProblemEndsBeforeThePortIsTouched) {
    const std::string missing = (dir_ / "missing.bin").string();
    const std::string folder = dir_.string();
    for (const std::string& file : {missing, folder}) {
        SCOPED_TRACE(file);
        auto loader = std::make_shared<sim::LoaderDevice>();
        const auto line = LineFor(loader);
        const Ended run = LoadToTheEnd({"--port", line->Path(), file});
        EXPECT_EQ(run.code, 3);
        ExpectPlain(run);
        EXPECT_EQ(run.out, "");
        const std::vector<std::string> lines = Lines(run.err);
        ASSERT_EQ(lines.size(), 1u) << run.err;
        EXPECT_EQ(lines[0].rfind("Cannot open firmware file " + file + ": ", 0), 0u) << run.err;
        EXPECT_TRUE(line->Received().empty());
    }
}

TEST_F(LoadProgram, PortThatCannotBeOpenedShowsBothLinesOfItsBox) {
    struct Case {
        std::string port;
        std::string problem;
    };
    const Case cases[] = {
        {"/nonexistent/ttyUSB7", "No such device: /nonexistent/ttyUSB7 is not there (is the adapter plugged in?)."},
        {"COM99:", "There is no such port on this machine."},
        // No adapter of this machine reports that serial number or sits there.
        {"usb:X", "There is no such port on this machine."},
        {"usb-path:9-9.9", "There is no such port on this machine."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        const Ended run = LoadToTheEnd({"--port", c.port, file_});
        EXPECT_EQ(run.code, 4);
        ExpectPlain(run);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Lines(run.err), (std::vector<std::string>{
                                      "Com Port " + c.port + " недоступен. Установите нужный порт. — " + c.problem,
                                      c.port + " Not available!"}));
    }
}

TEST_F(LoadProgram, BadUsageIsRefusedAndHelpListsTheExitCodes) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--bogus", file_},
        {"--wait", "0", file_},
        {"--quiet", "--verbose", file_},
        {"--list", file_},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args.front());
        const Ended run = LoadToTheEnd(args);
        EXPECT_EQ(run.code, 64);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("veltra-load: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("(--help lists the options)"), std::string::npos) << run.err;
    }

    const Ended help = LoadToTheEnd({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* code : {"  0   success", "  1   ", "  2   no connection", "  3   a file problem",
                             "  4   a port problem", "  64  bad usage"}) {
        EXPECT_NE(help.out.find(code), std::string::npos) << code;
    }
}

// --version answers alone, before FILE or a port is looked at.
TEST_F(LoadProgram, VersionNamesTheProgramAndEndsAtOnce) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"--port", "COM9:", "--version", "/nonexistent/fw.bin"}}) {
        const Ended run = LoadToTheEnd(args);
        EXPECT_EQ(run.code, 0);
        EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(veltra-load \(Boot Loader Veltra\) [0-9]+\.[0-9]+(\.[0-9]+)?\n)")))
            << run.out;
        EXPECT_EQ(run.err, "");
    }
}

// Name, device and description first, as the list had them before adapters
// were told apart; then the adapter's own columns, empty for a COM port.
TEST_F(LoadProgram, ListShowsThePortsAsTheWindowDoes) {
    std::string expected;
    for (const PortEntry& entry : ListPorts()) expected += PortListLine(entry);
    const Ended run = LoadToTheEnd({"--list"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.out.rfind("COM1:\t/dev/ttyS0\t\t\t\t\t\t\n", 0), 0u);
}

TEST_F(LoadProgram, TestBlockPrintsTheReplyBox) {
    struct Case {
        int refuseBlock;
        std::string out;
        int code;
    };
    const Case cases[] = {
        {0, "36 35 ,\n", 0},      // "65": accepted
        {1, "32 35 35 ,\n", 1},   // "255": no acceptance
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        auto loader = std::make_shared<sim::LoaderDevice>(sim::LoaderOptions{.refuseBlock = c.refuseBlock});
        const auto line = LineFor(loader);
        const Ended run = LoadToTheEnd({"--port", line->Path(), "--test-block"});
        EXPECT_EQ(run.code, c.code) << run.err;
        ExpectPlain(run);
        EXPECT_EQ(run.out, c.out);
        ASSERT_EQ(loader->Frames().size(), 1u);
        EXPECT_EQ(loader->Frames()[0].substr(0, 4), ByteString("\xA5\x70\x00\x01", 4));
    }
}

// Device 1 is flashed, stays on the line a while, is taken off; device 2 is
// put on and flashed; Ctrl-C ends. A device left on the line is asked, never
// flashed a second time: one that answers every wake-up answers the probes;
// one that answered once and now takes every byte as part of a block frame
// refuses the frames the probes add up to. Either way the answered probe is
// the download's only wake-up.
TEST_F(LoadProgram, LoopFlashesEachDeviceOnceAndEndsOnInterrupt) {
    struct Case {
        const char* what;
        sim::LoaderOptions device;
    };
    const Case cases[] = {
        {"a loader that answers every wake-up", {}},
        {"a loader that answers the wake-up once", {.wakeOnce = true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto lineOfDevices = std::make_shared<LineOfDevices>();
        const auto line = LineFor(lineOfDevices);
        auto first = std::make_shared<sim::LoaderDevice>(c.device);
        auto second = std::make_shared<sim::LoaderDevice>(c.device);
        lineOfDevices->Put(first);

        ChildProgram load(VELTRA_LOAD_PROGRAM, {"--port", line->Path(), "--loop", file_});
        ASSERT_TRUE(load.WaitForOutput("Waiting for device 1 to be taken off the line\n", kPatience)) << load.Output();
        EXPECT_EQ(first->Firmware(), Padded(firmware_));
        EXPECT_EQ(first->HandshakeAttempts(), 1) << "one wake-up for the whole download";

        const std::size_t asked = line->Received().size();
        std::this_thread::sleep_for(2s);
        EXPECT_GT(line->Received().size(), asked) << "the program stopped looking at the line";
        EXPECT_EQ(first->Firmware(), Padded(firmware_)) << "flashed again, or a probe taken as a block";
        EXPECT_EQ(load.Output().find("Waiting for the next device", 1), std::string::npos)
            << "the device still on the line was taken for gone: " << load.Output();

        lineOfDevices->Put(nullptr);
        ASSERT_TRUE(load.WaitForOutput("Waiting for the next device\n", kPatience)) << load.Output();
        lineOfDevices->Put(second);
        ASSERT_TRUE(load.WaitForOutput("Waiting for device 2 to be taken off the line\n", kPatience)) << load.Output();
        EXPECT_EQ(second->Firmware(), Padded(firmware_));

        load.Signal(SIGINT);
        EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();
        EXPECT_EQ(WithoutSeconds(load.Output()),
                  "Waiting for the next device\n"
                  "#1 Successful - 256 Bytes in S s\n"
                  "Waiting for device 1 to be taken off the line\n"
                  "Waiting for the next device\n"
                  "#2 Successful - 256 Bytes in S s\n"
                  "Waiting for device 2 to be taken off the line\n"
                  "2 devices: 2 succeeded, 0 failed\n");
        EXPECT_EQ(load.ErrorOutput(), "");
        EXPECT_EQ(load.Output().find('\r'), std::string::npos);
    }
}

// An interrupt during a download lets the device finish; the loop then ends
// with the code of the device that failed, here none.
TEST_F(LoadProgram, LoopInterruptedDuringADownloadFinishesTheDevice) {
    // Paced at the line rate, so that the download is still running when the interrupt comes.
    const ByteString firmware = Firmware(1000);
    std::ofstream(file_, std::ios::binary | std::ios::trunc)
        .write(firmware.data(), static_cast<std::streamsize>(firmware.size()));
    auto loader = std::make_shared<sim::LoaderDevice>();
    const auto line = LineFor(loader, sim::DeviceOptions{.paceLine = true, .baud = 19200});

    ChildProgram load(VELTRA_LOAD_PROGRAM, {"--port", line->Path(), "--loop", file_});
    // The wake-up and two frames in: the download has begun.
    ASSERT_TRUE(line->WaitForReceived(1 + 2 * 67, kPatience));
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();
    EXPECT_EQ(loader->Firmware(), Padded(firmware)) << "the device was cut off in the middle";
    EXPECT_EQ(WithoutSeconds(load.Output()),
              "Waiting for the next device\n"
              "#1 Successful - 1024 Bytes in S s\n"
              "1 device: 1 succeeded, 0 failed\n");
    EXPECT_EQ(load.ErrorOutput(), "Interrupted: stopping after device 1 (interrupt again to end at once)\n");
}

TEST_F(LoadProgram, LoopEndsWithTheCodeOfAFailedDevice) {
    auto loader = std::make_shared<sim::LoaderDevice>(sim::LoaderOptions{.refuseBlock = 3});
    const auto line = LineFor(loader);
    ChildProgram load(VELTRA_LOAD_PROGRAM, {"--port", line->Path(), "--loop", "--quiet", file_});
    ASSERT_TRUE(load.WaitForOutput("#1 Failed - 128 Bytes in ", kPatience)) << load.Output();
    load.Signal(SIGTERM);
    EXPECT_EQ(load.Finish(kPatience), 1);
    EXPECT_EQ(WithoutSeconds(load.Output()),
              "#1 Failed - 128 Bytes in S s\n"
              "1 device: 0 succeeded, 1 failed\n");
    EXPECT_EQ(Lines(load.ErrorOutput()), (std::vector<std::string>{"Ошибка 1F !!!!", " data 3,part error"}));
}

// The program's clock in another zone for a while: the log's time must not
// follow it.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
    }
    ~TimeZone() {
        if (old_.empty()) {
            ::unsetenv("TZ");
        } else {
            ::setenv("TZ", old_.c_str(), 1);
        }
    }

private:
    std::string old_;
};

// The file-size limit of this process while it lasts, which a program
// started meanwhile keeps for its whole run: a disk that is full a given
// number of bytes on. Held around a start only, since a limit that low would
// stop this process's own writes too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::size_t bytes) {
        if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) throw std::system_error(errno, std::generic_category(), "getrlimit");
        rlimit limited = old_;
        limited.rlim_cur = static_cast<rlim_t>(bytes);
        if (::setrlimit(RLIMIT_FSIZE, &limited) != 0) {
            throw std::system_error(errno, std::generic_category(), "setrlimit");
        }
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
};

// --log: one line for the run, appended after what the file held, with the
// hash of the very bytes of the file.
TEST_F(LoadProgram, LogAppendsALineForTheRun) {
    struct Case {
        const char* what;
        bool silent;  // nobody on the line
        sim::LoaderOptions device;
        std::string result;
        std::int64_t bytes;
        int exit;
    };
    const Case cases[] = {
        {"a download", false, {}, "Successful - 256 Bytes", 256, 0},
        {"a refused block", false, {.refuseBlock = 3}, "Failed - 128 Bytes", 128, 1},
        {"nobody answering", true, {}, "No connection", 0, 2},
    };
    const TimeZone tokyo("JST-9");
    const std::string log = (dir_ / "devices.jsonl").string();
    const std::string earlier = R"({"earlier":"run"})";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(log, std::ios::binary | std::ios::trunc) << earlier << '\n';
        std::shared_ptr<sim::Personality> device = std::make_shared<LineOfDevices>();
        if (!c.silent) device = std::make_shared<sim::LoaderDevice>(c.device);
        const auto line = LineFor(device);

        const auto before = std::chrono::system_clock::now();
        const Ended run = LoadToTheEnd({"--port", line->Path(), "--wait", "1", "--log", log, file_});
        const auto after = std::chrono::system_clock::now();
        EXPECT_EQ(run.code, c.exit) << run.err;

        const auto lines = LogLines(log);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].dump(), earlier) << "the file was not appended to";
        const auto& l = lines[1];
        testing::ExpectLineShape(l);
        testing::ExpectTimeWithin(l, before, after);
        EXPECT_EQ(l.value("port", ""), line->Path());
        EXPECT_EQ(l.value("adapter", "?"), "");
        EXPECT_EQ(l.value("device", 0), 1);
        EXPECT_EQ(l.value("operation", ""), "download");
        EXPECT_EQ(l.value("file", ""), file_);
        EXPECT_EQ(l.value("size", 0), 200);
        EXPECT_EQ(l.value("sha256", ""), Sha256Of(firmware_));
        EXPECT_EQ(l.value("result", ""), c.result);
        EXPECT_EQ(l.value("bytes", -1), c.bytes);
        EXPECT_GE(l.value("seconds", -1.0), 0.0);
        EXPECT_LT(l.value("seconds", -1.0), std::chrono::duration<double>(after - before).count());
        EXPECT_EQ(l.value("exit", -1), c.exit);
    }
}

// A run that ends before it reaches the line still leaves its line, with no
// image and the box that said why.
TEST_F(LoadProgram, LogHasALineForAFileProblemWithoutAnImage) {
    const std::string missing = (dir_ / "missing.bin").string();
    const std::string log = (dir_ / "devices.jsonl").string();
    const auto line = LineFor(std::make_shared<sim::LoaderDevice>());
    const Ended run = LoadToTheEnd({"--port", line->Path(), "--log", log, missing});
    EXPECT_EQ(run.code, 3);
    const auto lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    testing::ExpectLineShape(lines[0]);
    EXPECT_EQ(lines[0].value("file", ""), missing);
    EXPECT_EQ(lines[0].value("size", -1), 0);
    EXPECT_EQ(lines[0].value("sha256", "?"), "");
    EXPECT_EQ(lines[0].value("result", "").rfind("Cannot open firmware file " + missing + ": ", 0), 0u)
        << lines[0].dump();
    EXPECT_EQ(lines[0].value("bytes", -1), 0);
    EXPECT_EQ(lines[0].value("exit", -1), 3);
    EXPECT_TRUE(line->Received().empty());
}

TEST_F(LoadProgram, LogThatCannotBeWrittenIsAFileProblem) {
    // Not opened: nothing is done at all.
    struct Case {
        std::string log;
        std::string reason;
    };
    const Case cases[] = {
        {(dir_ / "no-such-folder" / "devices.jsonl").string(), "No such file or directory"},
        {dir_.string(), "Is a directory"},
    };
    for (const Case& c : cases) {
        for (const bool loop : {false, true}) {
            SCOPED_TRACE(c.log + (loop ? " --loop" : " one device"));
            auto loader = std::make_shared<sim::LoaderDevice>();
            const auto line = LineFor(loader);
            std::vector<std::string> args{"--port", line->Path(), "--log", c.log, file_};
            if (loop) args.insert(args.begin(), "--loop");
            const Ended run = LoadToTheEnd(args);
            EXPECT_EQ(run.code, 3);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "Cannot open the log file " + c.log + ": " + c.reason + "\n");
            EXPECT_TRUE(line->Received().empty()) << "the port was touched";
        }
    }
    EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));

    // Opened, but the line does not fit: the device is flashed, and the
    // success that cannot be logged becomes a file problem.
    auto loader = std::make_shared<sim::LoaderDevice>();
    const auto line = LineFor(loader);
    const Ended run = LoadToTheEnd({"--port", line->Path(), "--quiet", "--log", "/dev/full", file_});
    EXPECT_EQ(run.code, 3);
    EXPECT_EQ(run.out, "Successful - 256 Bytes\n");
    EXPECT_EQ(run.err, "Cannot write the log file /dev/full: No space left on device\n");
    EXPECT_EQ(loader->Firmware(), Padded(firmware_));
}

// The disk full in the middle of a device's line, here a file-size limit a
// few bytes past what the log holds: the device is flashed, the line that
// does not fit is told and the run is a file problem, and the part of the
// line that fitted stays torn in the file. Once there is room again, the next
// run's line starts a line of its own and parses, and nothing before it has
// changed.
TEST_F(LoadProgram, LogLineAfterAFullDiskIsWholeAndOnItsOwn) {
    const std::string log = (dir_ / "devices.jsonl").string();
    const std::string earlier = "{\"earlier\":\"run\"}\n";
    std::ofstream(log, std::ios::binary) << earlier;
    constexpr std::size_t kFits = 20;

    auto full = std::make_shared<sim::LoaderDevice>();
    const auto fullLine = LineFor(full);
    const std::vector<std::string> args{"--port", fullLine->Path(), "--quiet", "--log", log, file_};
    std::optional<ChildProgram> load;
    {
        const FileSizeLimit limit(earlier.size() + kFits);
        load.emplace(VELTRA_LOAD_PROGRAM, args);
    }
    EXPECT_EQ(load->Finish(kPatience), 3);
    EXPECT_EQ(load->Output(), "Successful - 256 Bytes\n");
    EXPECT_EQ(load->ErrorOutput(), "Cannot write the log file " + log + ": File too large\n");
    EXPECT_EQ(full->Firmware(), Padded(firmware_));
    const std::string torn = testing::FileText(log);
    ASSERT_EQ(torn.size(), earlier.size() + kFits) << torn;
    EXPECT_EQ(torn.rfind(earlier + "{\"time\":\"", 0), 0u) << torn;

    auto next = std::make_shared<sim::LoaderDevice>();
    const auto nextLine = LineFor(next);
    const Ended run = LoadToTheEnd({"--port", nextLine->Path(), "--quiet", "--log", log, file_});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string text = testing::FileText(log);
    ASSERT_EQ(text.rfind(torn, 0), 0u) << "the bytes before the line changed: " << text;
    const std::string rest = text.substr(torn.size());
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.front(), '\n') << "the line went on the torn one: " << text;
    EXPECT_EQ(rest.back(), '\n') << text;
    const nlohmann::json added = nlohmann::json::parse(rest, nullptr, false);
    ASSERT_TRUE(added.is_object()) << "not one JSON object: " << rest;
    testing::ExpectLineShape(added);
    EXPECT_EQ(added.value("port", ""), nextLine->Path());
    EXPECT_EQ(added.value("result", ""), "Successful - 256 Bytes");
    EXPECT_EQ(next->Firmware(), Padded(firmware_));
}

// Each device's line is on the disk before the loop waits for the next one.
TEST_F(LoadProgram, LoopLogsALineForEachDevice) {
    const std::string log = (dir_ / "devices.jsonl").string();
    auto lineOfDevices = std::make_shared<LineOfDevices>();
    const auto line = LineFor(lineOfDevices);
    lineOfDevices->Put(std::make_shared<sim::LoaderDevice>());

    ChildProgram load(VELTRA_LOAD_PROGRAM, {"--port", line->Path(), "--loop", "--log", log, file_});
    ASSERT_TRUE(load.WaitForOutput("Waiting for device 1 to be taken off the line\n", kPatience)) << load.Output();
    EXPECT_EQ(LogLines(log).size(), 1u);
    lineOfDevices->Put(nullptr);
    ASSERT_TRUE(load.WaitForOutput("Waiting for the next device\n", kPatience)) << load.Output();
    lineOfDevices->Put(std::make_shared<sim::LoaderDevice>(sim::LoaderOptions{.refuseBlock = 2}));
    ASSERT_TRUE(load.WaitForOutput("Waiting for device 2 to be taken off the line\n", kPatience)) << load.Output();
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 1) << load.ErrorOutput();

    const auto lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2u);
    struct Expected {
        std::string result;
        std::int64_t bytes;
        int exit;
    };
    const Expected expected[] = {{"Successful - 256 Bytes", 256, 0}, {"Failed - 64 Bytes", 64, 1}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i + 1);
        const auto& l = lines[static_cast<std::size_t>(i)];
        testing::ExpectLineShape(l);
        EXPECT_EQ(l.value("device", 0), i + 1);
        EXPECT_EQ(l.value("port", ""), line->Path());
        EXPECT_EQ(l.value("operation", ""), "download");
        EXPECT_EQ(l.value("file", ""), file_);
        EXPECT_EQ(l.value("size", 0), 200);
        EXPECT_EQ(l.value("sha256", ""), Sha256Of(firmware_));
        EXPECT_EQ(l.value("result", ""), expected[i].result);
        EXPECT_EQ(l.value("bytes", -1), expected[i].bytes);
        EXPECT_EQ(l.value("exit", -1), expected[i].exit);
    }
    EXPECT_LE(testing::TimeOf(lines[0]), testing::TimeOf(lines[1]));
}

}  // namespace
}  // namespace veltra::terminal
