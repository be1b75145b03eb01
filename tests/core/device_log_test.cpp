// The pieces of veltra-load's --log that need no device: the JSON line of a
// device, its UTC time, the bytes of a closing status line, and the log file
// that lines are appended to.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FakeDeviceTree.h"
#include "support/LogLines.h"
#include "support/TempFolder.h"
#include "terminal/DeviceLog.h"
#include "terminal/LogFile.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

sys_seconds At(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
    return sys_days{year{y} / month{m} / day{d}} + hours{hh} + minutes{mm} + seconds{ss};
}

TEST(DeviceLog, TimeIsIso8601InUtcToTheSecond) {
    struct Case {
        system_clock::time_point time;
        const char* text;
    };
    const Case cases[] = {
        {system_clock::time_point{}, "1970-01-01T00:00:00Z"},
        {At(2026, 12, 11, 0, 40, 5), "2026-12-11T00:40:05Z"},
        {At(2028, 2, 29, 23, 59, 59) + milliseconds(999), "2028-02-29T23:59:59Z"},  // fractions cut, not rounded up
        {At(2099, 12, 31, 12, 0, 0), "2099-12-31T12:00:00Z"},
    };
    for (const Case& c : cases) EXPECT_EQ(IsoUtc(c.time), c.text);
}

TEST(DeviceLog, BytesAreTheNumberOfATransferVerdict) {
    struct Case {
        const char* status;
        std::int64_t bytes;
    };
    const Case cases[] = {
        {"Successful - 256 Bytes", 256},
        {"Failed - 128 Bytes", 128},
        {"Failed - 0 Bytes", 0},
        {"No connection", 0},
        {"File error", 0},
        {"Successful - 256", 0},        // not the whole verdict
        {"Successful - x Bytes", 0},
        {"Successful - 256 Bytes!", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(BytesOfStatus(c.status), c.bytes) << c.status;
}

TEST(DeviceLog, LineIsOneJsonObjectWithEveryFieldInOrder) {
    DeviceRecord record;
    record.time = At(2026, 12, 11, 0, 40, 5);
    record.port = "/dev/pts/7";
    record.adapter = "FTDI FT232R USB UART (A1B2C3D4)";
    record.device = 12;
    record.operation = "download";
    record.file = "прошивка \"new\".bin";  // quotes and Cyrillic as operators name files
    record.size = 200;
    record.sha256 = std::string(64, 'a');
    record.result = "Successful - 256 Bytes";
    record.bytes = 256;
    record.seconds = 3.417;
    record.exit = 0;

    const std::string line = JsonLine(record);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    const auto json = nlohmann::ordered_json::parse(line);
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"time", "port", "adapter", "device", "operation", "file", "size",
                                               "sha256", "result", "bytes", "seconds", "exit"}));
    EXPECT_EQ(json["time"], "2026-12-11T00:40:05Z");
    EXPECT_EQ(json["port"], "/dev/pts/7");
    EXPECT_EQ(json["adapter"], "FTDI FT232R USB UART (A1B2C3D4)");
    EXPECT_EQ(json["device"], 12);
    EXPECT_EQ(json["operation"], "download");
    EXPECT_EQ(json["file"], "прошивка \"new\".bin");
    EXPECT_EQ(json["size"], 200);
    EXPECT_EQ(json["sha256"], std::string(64, 'a'));
    EXPECT_EQ(json["result"], "Successful - 256 Bytes");
    EXPECT_EQ(json["bytes"], 256);
    EXPECT_TRUE(json["seconds"].is_number());
    EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), 3.417);
    EXPECT_EQ(json["exit"], 0);
}

// --chip-id adds its fields after the others; a line without it stays as
// lines always were.
TEST(DeviceLog, ChipFieldsFollowTheOthersOnlyWhenThereAreAny) {
    const std::vector<std::string> common{"time", "port", "adapter", "device", "operation", "file", "size",
                                          "sha256", "result", "bytes", "seconds", "exit"};
    struct Case {
        const char* what;
        std::optional<std::string> chipId;
        std::string reason;
        std::vector<std::string> more;
    };
    const Case cases[] = {
        {"no --chip-id", std::nullopt, "", {}},
        {"an ID read", "0017", "", {"chip_id"}},
        {"an ID unreadable", "", "chip ID unreadable", {"chip_id", "reason"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRecord record;
        record.chipId = c.chipId;
        record.reason = c.reason;
        const auto json = nlohmann::ordered_json::parse(JsonLine(record));
        std::vector<std::string> keys;
        for (const auto& item : json.items()) keys.push_back(item.key());
        std::vector<std::string> expected = common;
        expected.insert(expected.end(), c.more.begin(), c.more.end());
        EXPECT_EQ(keys, expected);
        EXPECT_EQ(json.value("chip_id", "-"), c.chipId.value_or("-"));
    }
}

TEST(DeviceLog, NameThatIsNoUtf8StillGivesALine) {
    DeviceRecord record;
    record.file = "fw-\xFF\xFE.bin";  // a Linux file name may be any bytes
    const auto json = nlohmann::json::parse(JsonLine(record));
    EXPECT_EQ(json["file"], "fw-\xEF\xBF\xBD\xEF\xBF\xBD.bin");
}

TEST(DeviceLog, AdapterIsTheDescriptionOfThePortByNameDeviceOrAdapter) {
    testing::FakeDeviceTree fake("device-log");
    const fs::path ftdi = fake.UsbDevice("pci0000:00/usb1/1-1", "FTDI", "FT232R USB UART", "A1B2C3D4", "ftdi_sio");
    const std::string port = (ftdi / "ttyUSB0").lexically_relative(fake.sys() / "devices").string();
    fake.Tty("ttyUSB0", fake.Device(port, "ftdi_sio"));
    fake.Write(fake.dev() / "ttyUSB0", "");

    struct Case {
        std::string port;
        std::string adapter;
    };
    const Case cases[] = {
        {"ttyUSB0", "FTDI FT232R USB UART (A1B2C3D4)"},
        {fake.Node("ttyUSB0"), "FTDI FT232R USB UART (A1B2C3D4)"},
        {"usb:A1B2C3D4", "FTDI FT232R USB UART (A1B2C3D4)"},
        {"usb-path:1-1", "FTDI FT232R USB UART (A1B2C3D4)"},
        {"usb:E5F6", ""},
        {"COM1:", ""},  // listed, but the system tells nothing of it
        {"/dev/pts/3", ""},
        {"ttyUSB1", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(AdapterOf(c.port, fake.Tree()), c.adapter) << c.port;
}

class LogFileTest : public ::testing::Test {
protected:
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    testing::TempFolder folder_{"veltra-log"};
    const fs::path& dir_ = folder_.Path();
    std::string path_ = (dir_ / "devices.jsonl").string();
};

// A line of devices meets a new chip with every device: the chip of one
// line is not the next line's.
TEST_F(LogFileTest, ChipOfALineIsForgottenAfterIt) {
    LogFile file;
    std::string reason;
    ASSERT_TRUE(file.Open(path_, reason)) << reason;
    LoadCommand command;
    command.rom = true;
    command.log = path_;
    command.chipIdLength = 12;
    PortLog log(&file, command, "/dev/pts/3");
    std::string problem;
    log.SetChip("0017", "");
    ASSERT_TRUE(log.Write(1, "-----Succefull------", 384, seconds(1), 0, problem)) << problem;
    ASSERT_TRUE(log.Write(2, "No connection", 0, seconds(1), 2, problem)) << problem;
    log.SetChip("", "chip ID unreadable");
    ASSERT_TRUE(log.Write(3, "-----Succefull------", 384, seconds(1), 0, problem)) << problem;

    const auto lines = testing::LogLines(path_);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].value("chip_id", "-"), "0017");
    EXPECT_FALSE(lines[0].contains("reason"));
    EXPECT_EQ(lines[1].value("chip_id", "-"), "") << "every line of a run with --chip-id has one";
    EXPECT_FALSE(lines[1].contains("reason"));
    EXPECT_EQ(lines[2].value("chip_id", "-"), "");
    EXPECT_EQ(lines[2].value("reason", ""), "chip ID unreadable");
}

TEST_F(LogFileTest, CreatesAMissingFileAndAppendsToOneThatHasLines) {
    {
        LogFile log;
        std::string reason;
        ASSERT_TRUE(log.Open(path_, reason)) << reason;
        ASSERT_TRUE(log.Append("first\n", reason)) << reason;
    }
    EXPECT_EQ(Contents(), "first\n");
    LogFile log;
    std::string reason;
    ASSERT_TRUE(log.Open(path_, reason)) << reason;
    ASSERT_TRUE(log.Append("second\n", reason)) << reason;
    ASSERT_TRUE(log.Append("third\n", reason)) << reason;
    EXPECT_EQ(Contents(), "first\nsecond\nthird\n");
}

TEST_F(LogFileTest, WhatCannotBeOpenedOrWrittenSaysWhy) {
    LogFile missingFolder;
    std::string reason;
    EXPECT_FALSE(missingFolder.Open((dir_ / "no-such-folder" / "devices.jsonl").string(), reason));
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_FALSE(missingFolder.Append("line\n", reason));

    LogFile folder;
    EXPECT_FALSE(folder.Open(dir_.string(), reason));
    EXPECT_EQ(reason, "Is a directory");

    LogFile full;
    ASSERT_TRUE(full.Open("/dev/full", reason)) << reason;
    EXPECT_FALSE(full.Append("line\n", reason));
    EXPECT_EQ(reason, "No space left on device");
}

// A last line left torn (a power cut or a full disk in the middle of a write,
// here or in another program appending to the file) is ended before the next
// line, also when it was torn between two lines of this log; the bytes
// already there stay exactly as they were.
TEST_F(LogFileTest, LineAfterATornOneStartsALineOfItsOwn) {
    struct Case {
        const char* what;
        std::string before;   // the file when it is opened
        std::string between;  // what another program appends between our two lines
        std::string after;
    };
    const Case cases[] = {
        {"a new file", "", "", "{\"a\":1}\n{\"b\":2}\n"},
        {"whole lines", "{\"x\":0}\n", "{\"y\":0}\n", "{\"x\":0}\n{\"a\":1}\n{\"y\":0}\n{\"b\":2}\n"},
        {"a torn line", "{\"x\":0}\n{\"ti", "", "{\"x\":0}\n{\"ti\n{\"a\":1}\n{\"b\":2}\n"},
        {"nothing but a torn line", "{", "", "{\n{\"a\":1}\n{\"b\":2}\n"},
        {"a line torn by another program meanwhile", "", "{\"y\":", "{\"a\":1}\n{\"y\":\n{\"b\":2}\n"},
        {"an empty line", "\n", "", "\n{\"a\":1}\n{\"b\":2}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << c.before;
        LogFile log;
        std::string reason;
        ASSERT_TRUE(log.Open(path_, reason)) << reason;
        ASSERT_TRUE(log.Append("{\"a\":1}\n", reason)) << reason;
        std::ofstream(path_, std::ios::binary | std::ios::app) << c.between;
        ASSERT_TRUE(log.Append("{\"b\":2}\n", reason)) << reason;
        EXPECT_EQ(Contents(), c.after);
    }

    // A pipe (--log /dev/stdout) gets the lines as they are, and is never
    // read: what is in it stays its reader's. Once the reader has gone, a line
    // fails, as it does for a pipe of the shell (no reader of our own keeps it
    // open to fill up and block).
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "{", 1), 1);
    LogFile log;
    std::string reason;
    ASSERT_TRUE(log.Open("/proc/self/fd/" + std::to_string(ends[1]), reason)) << reason;
    ::close(ends[1]);
    ASSERT_TRUE(log.Append("{\"a\":1}\n", reason)) << reason;
    char bytes[64] = {};
    const ssize_t n = ::read(ends[0], bytes, sizeof bytes);
    EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), "{{\"a\":1}\n");
    ::close(ends[0]);
    const auto old = ::signal(SIGPIPE, SIG_IGN);
    EXPECT_FALSE(log.Append("{\"b\":2}\n", reason));
    ::signal(SIGPIPE, old);
    EXPECT_EQ(reason, "Broken pipe");
}

// The next step runs several ports at once, each with its lines.
TEST_F(LogFileTest, LinesFromSeveralThreadsNeverMix) {
    LogFile log;
    std::string reason;
    ASSERT_TRUE(log.Open(path_, reason)) << reason;
    constexpr int kThreads = 4;
    constexpr int kLines = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            // Long lines, so that a line written in pieces would show.
            const std::string line = std::string(3000, static_cast<char>('a' + t)) + '\n';
            std::string why;
            for (int i = 0; i < kLines; ++i) EXPECT_TRUE(log.Append(line, why)) << why;
        });
    }
    for (std::thread& thread : threads) thread.join();

    std::istringstream in(Contents());
    int count[kThreads] = {};
    for (std::string line; std::getline(in, line);) {
        ASSERT_EQ(line.size(), 3000u);
        const char c = line.front();
        ASSERT_GE(c, 'a');
        ASSERT_LT(c, 'a' + kThreads);
        EXPECT_EQ(line.find_first_not_of(c), std::string::npos) << "a line mixed with another";
        ++count[c - 'a'];
    }
    for (const int n : count) EXPECT_EQ(n, kLines);
}

// Several stations of the line write to one log: each process's lines go in
// whole and in its order, whatever the others append meanwhile, and a line
// that another is writing at that moment is never taken for a torn one (which
// would leave an empty line).
TEST_F(LogFileTest, LinesFromSeveralProcessesNeverMix) {
    constexpr int kProcesses = 4;
    constexpr int kLines = 150;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0) << std::strerror(errno);
        if (pid == 0) {
            LogFile log;
            std::string why;
            bool written = log.Open(path_, why);
            for (int i = 0; i < kLines && written; ++i) {
                // Long lines, so that a line written in pieces would show.
                const nlohmann::json line = {
                    {"process", p}, {"line", i}, {"pad", std::string(3000, static_cast<char>('a' + p))}};
                written = log.Append(line.dump() + '\n', why);
            }
            ::_exit(written ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a process could not append";
    }

    int next[kProcesses] = {};
    for (const nlohmann::json& line : testing::LogLines(path_)) {
        const int p = line.value("process", -1);
        ASSERT_GE(p, 0) << line.dump();
        ASSERT_LT(p, kProcesses) << line.dump();
        EXPECT_EQ(line.value("line", -1), next[p]++) << "a line lost or out of order";
        EXPECT_EQ(line.value("pad", ""), std::string(3000, static_cast<char>('a' + p)));
    }
    for (const int n : next) EXPECT_EQ(n, kLines);
}

}  // namespace
}  // namespace veltra::terminal
