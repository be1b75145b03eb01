// The veltra-sim program: its options, and its link published at a path of
// the user's choice, as the Windows tests use it from another process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/CommandLine.h"
#include "support/ChildProgram.h"

namespace veltra::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using veltra::testing::ChildProgram;
using Clock = std::chrono::steady_clock;

// Generous bound for anything that must merely end, never a measurement.
constexpr auto kPatience = 10s;

SimCommand Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "veltra-sim");
    return ParseSimCommand(static_cast<int>(args.size()), args.data());
}

TEST(SimCommandLine, LinkAndEchoAreTaken) {
    const SimCommand echo = Parse({"--echo", "--link", "/tmp/com1", "--pace"});
    EXPECT_TRUE(echo.echo);
    EXPECT_FALSE(echo.rom);
    EXPECT_EQ(echo.link, "/tmp/com1");
    EXPECT_TRUE(echo.device.paceLine);
    EXPECT_FALSE(echo.device.holdLine) << "the program in another process must find the line free";

    const SimCommand loader = Parse({"--link", "/tmp/com1", "--refuse-block", "3"});
    EXPECT_FALSE(loader.echo);
    EXPECT_EQ(loader.loader.refuseBlock, 3);

    const SimCommand port = Parse({});
    EXPECT_EQ(port.link, "") << "without --link the port's device node is used";
    EXPECT_EQ(port.port, "COM3:");
}

TEST(SimCommandLine, RomBootloaderTakesTheChipsTimesAndTheChosenAddresses) {
    const SimCommand plain = Parse({"--rom"});
    EXPECT_EQ(plain.romOptions.programTime, 0ms);
    EXPECT_EQ(plain.romOptions.eraseTime, 0ms);
    EXPECT_FALSE(plain.romOptions.refuseWriteAt.has_value());
    EXPECT_FALSE(plain.romOptions.corruptWriteAt.has_value());

    const SimCommand chosen = Parse({"--rom", "--program-ms", "3", "--erase-ms", "0", "--refuse-write-at", "0x9080",
                                     "--corrupt-write-at", "37120"});
    EXPECT_EQ(chosen.romOptions.programTime, 3ms);
    EXPECT_EQ(chosen.romOptions.eraseTime, 0ms);
    EXPECT_EQ(chosen.romOptions.refuseWriteAt, 0x9080u);
    EXPECT_EQ(chosen.romOptions.corruptWriteAt, 0x9100u) << "decimal";

    const SimCommand edges = Parse({"--refuse-write-at", "0XFFFFFFFF", "--corrupt-write-at", "0", "--rom"});
    EXPECT_EQ(edges.romOptions.refuseWriteAt, 0xFFFFFFFFu);
    EXPECT_EQ(edges.romOptions.corruptWriteAt, 0u);
}

TEST(SimCommandLine, RomBootloaderTakesTheChipsIdProtectionAndCalibration) {
    const SimCommand plain = Parse({"--rom"});
    EXPECT_EQ(plain.romOptions.chipIdAt, 0x48CDu);
    EXPECT_EQ(plain.romOptions.chipId, DefaultChipId());
    EXPECT_FALSE(plain.romOptions.readProtected);
    EXPECT_EQ(plain.romOptions.calibration, "");

    const SimCommand chosen =
        Parse({"--chip-id", "00a1B2ff", "--rom", "--chip-id-at", "0x9000", "--protected", "--calibration"});
    EXPECT_EQ(chosen.romOptions.chipId, ByteString("\x00\xA1\xB2\xFF", 4));
    EXPECT_EQ(chosen.romOptions.chipIdAt, 0x9000u);
    EXPECT_TRUE(chosen.romOptions.readProtected);
    EXPECT_EQ(chosen.romOptions.calibration, RomBootloaderDevice::CalibrationPattern());

    // The largest ID, and an ID that ends on the last byte modelled (given in decimal).
    const std::string largest(512, 'e');
    EXPECT_EQ(Parse({"--rom", "--chip-id", largest.c_str()}).romOptions.chipId, ByteString(256, '\xEE'));
    const SimCommand last = Parse({"--rom", "--chip-id", "0102", "--chip-id-at", "163838"});
    EXPECT_EQ(last.romOptions.chipIdAt, 0x27FFEu);
}

TEST(SimCommandLine, ContradictionsAreRefusedNamingTheOption) {
    const std::string tooLongId(514, '0');
    struct Case { std::vector<const char*> args; std::string message; };
    const Case cases[] = {
        {{"--link"}, "--link wants a value"},
        {{"--link", ""}, "--link wants a path, not \"\""},
        {{"--port", "COM1:", "--link", "/tmp/com1"}, "--port and --link both say where to appear: give one"},
        {{"--attach"}, "--attach wants a value"},
        {{"--attach", ""}, "--attach wants a path, not \"\""},
        {{"--attach", "/dev/pts/7", "--port", "COM2:"}, "--attach plays on an existing terminal: not with --port"},
        {{"--link", "/tmp/com1", "--attach", "/dev/pts/7"}, "--attach plays on an existing terminal: not with --link"},
        {{"--echo", "--wake-once"}, "--wake-once is for the device's loader, not with --echo"},
        {{"--echo", "--rom"}, "--echo and --rom are two different devices: choose one"},
        {{"--echo", "--refuse-block", "2"}, "--refuse-block is for the device's loader, not with --echo"},
        {{"--silent-from", "2", "--echo"}, "--silent-from is for the device's loader, not with --echo"},
        {{"--echo", "--handshake-attempt", "2"}, "--handshake-attempt is for the loaders, not with --echo"},
        {{"--echo=1"}, "unknown option --echo=1"},
        {{"--rom", "--program-ms"}, "--program-ms wants a value"},
        {{"--rom", "--program-ms", "-1"}, "--program-ms wants a whole number of milliseconds from 0 up, not \"-1\""},
        {{"--rom", "--erase-ms", "2s"}, "--erase-ms wants a whole number of milliseconds from 0 up, not \"2s\""},
        {{"--rom", "--erase-ms", ""}, "--erase-ms wants a whole number of milliseconds from 0 up, not \"\""},
        {{"--rom", "--refuse-write-at", "0x"}, "--refuse-write-at wants an address, in hex with 0x or decimal, not \"0x\""},
        {{"--rom", "--refuse-write-at", "9080h"},
         "--refuse-write-at wants an address, in hex with 0x or decimal, not \"9080h\""},
        {{"--rom", "--corrupt-write-at", "0x100000000"},
         "--corrupt-write-at wants an address, in hex with 0x or decimal, not \"0x100000000\""},
        {{"--rom", "--corrupt-write-at", "-5"}, "--corrupt-write-at wants an address, in hex with 0x or decimal, not \"-5\""},
        {{"--program-ms", "3"}, "--program-ms is for the ROM bootloader: give --rom too"},
        {{"--echo", "--refuse-write-at", "0x9080"}, "--refuse-write-at is for the ROM bootloader: give --rom too"},
        {{"--chip-id", "0102"}, "--chip-id is for the ROM bootloader: give --rom too"},
        {{"--chip-id-at", "0x9000"}, "--chip-id-at is for the ROM bootloader: give --rom too"},
        {{"--protected"}, "--protected is for the ROM bootloader: give --rom too"},
        {{"--echo", "--calibration"}, "--calibration is for the ROM bootloader: give --rom too"},
        {{"--rom", "--chip-id"}, "--chip-id wants a value"},
        {{"--rom", "--chip-id", ""}, "--chip-id wants 1 to 256 bytes in hex digits, two a byte, not \"\""},
        {{"--rom", "--chip-id", "abc"}, "--chip-id wants 1 to 256 bytes in hex digits, two a byte, not \"abc\""},
        {{"--rom", "--chip-id", "0x12"}, "--chip-id wants 1 to 256 bytes in hex digits, two a byte, not \"0x12\""},
        {{"--rom", "--chip-id", "12 34"}, "--chip-id wants 1 to 256 bytes in hex digits, two a byte, not \"12 34\""},
        {{"--rom", "--chip-id", "1g"}, "--chip-id wants 1 to 256 bytes in hex digits, two a byte, not \"1g\""},
        {{"--rom", "--chip-id", tooLongId.c_str()},
         "--chip-id wants 1 to 256 bytes in hex digits, two a byte, not \"" + tooLongId + "\""},
        {{"--rom", "--chip-id-at", "48CD"}, "--chip-id-at wants an address, in hex with 0x or decimal, not \"48CD\""},
        {{"--rom", "--chip-id-at", "0x3FFF"},
         "--chip-id-at 0x3FFF leaves no room for the chip ID's 12 bytes inside 0x04000..0x27FFF"},
        {{"--rom", "--chip-id-at", "0x27FFF", "--chip-id", "0102"},
         "--chip-id-at 0x27FFF leaves no room for the chip ID's 2 bytes inside 0x04000..0x27FFF"},
    };
    for (const Case& c : cases) {
        try {
            Parse(c.args);
            ADD_FAILURE() << c.message << ": accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

class SimLinkPath : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltra-sim-link-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
        link_ = dir_ / "com1";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
    fs::path link_;
};

// Bytes through the link reach the loopback and come back; Ctrl-C and SIGTERM
// alike end it cleanly and take the link away.
TEST_F(SimLinkPath, EchoesThroughTheLinkAndRemovesItWhenEnded) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        ChildProgram sim(VELTRA_SIM_PROGRAM, {"--echo", "--link", link_.string()}, ChildProgram::Errors::WithOutput);
        ASSERT_TRUE(sim.WaitForOutput("Ctrl-C ends", kPatience)) << sim.Output();

        ASSERT_TRUE(fs::is_symlink(link_));
        EXPECT_EQ(fs::read_symlink(link_).string().rfind("/dev/pts/", 0), 0u) << fs::read_symlink(link_);
        {
            const int line = ::open(link_.c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(line, 0) << std::strerror(errno);
            const std::string sent("\x00\x7F\x80\xFF\r\n", 6);
            ASSERT_EQ(::write(line, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
            std::string back;
            const auto deadline = Clock::now() + kPatience;
            while (back.size() < sent.size() && Clock::now() < deadline) {
                pollfd p{line, POLLIN, 0};
                if (::poll(&p, 1, 1000) <= 0) continue;
                char buffer[64];
                const ssize_t n = ::read(line, buffer, sizeof buffer);
                if (n <= 0) break;
                back.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(line);
            EXPECT_EQ(back, sent);
        }

        sim.Signal(signal);
        EXPECT_EQ(sim.Finish(kPatience), 0) << sim.Output();
        EXPECT_NE(sim.Output().find("6 bytes received"), std::string::npos) << sim.Output();
        struct stat st {};
        EXPECT_NE(::lstat(link_.c_str(), &st), 0) << "the link outlived the simulator";
    }
}

// A path that holds a file of somebody's is no place for a link: refused,
// and the file stays as it was.
TEST_F(SimLinkPath, PathHoldingAFileIsRefusedAndLeftAlone) {
    { std::ofstream(link_) << "someone's file"; }
    ChildProgram sim(VELTRA_SIM_PROGRAM, {"--echo", "--link", link_.string()}, ChildProgram::Errors::WithOutput);
    EXPECT_EQ(sim.Finish(kPatience), 1);
    const std::string& said = sim.Output();
    EXPECT_NE(said.find(link_.string() + " exists and is not a device node; leaving it alone."), std::string::npos)
        << said;
    std::ifstream in(link_);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "someone's file");
    EXPECT_FALSE(fs::is_symlink(link_));
}

// --save with --rom: the whole modelled memory as the chip holds it at the
// end, here as it started, with the ID and the calibration it was given.
TEST_F(SimLinkPath, RomSavesItsMemoryWithTheChipIdAndCalibration) {
    const fs::path saved = dir_ / "memory.bin";
    ChildProgram sim(VELTRA_SIM_PROGRAM,
                     {"--rom", "--link", link_.string(), "--chip-id", "C0FFEE", "--chip-id-at", "0x9000",
                      "--calibration", "--save", saved.string()},
                     ChildProgram::Errors::WithOutput);
    ASSERT_TRUE(sim.WaitForOutput("Ctrl-C ends", kPatience)) << sim.Output();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Finish(kPatience), 0) << sim.Output();

    std::ifstream in(saved, std::ios::binary);
    const std::string memory{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    using Rom = RomBootloaderDevice;
    ASSERT_EQ(memory.size(), std::size_t{Rom::kMemoryEnd - Rom::kMemoryStart});
    EXPECT_EQ(memory.substr(0, 1024), Rom::CalibrationPattern());
    const std::string factory(1, static_cast<char>(Rom::kFactoryByte));
    EXPECT_EQ(memory.substr(0x0400, 1), factory) << "0x04400, past the calibration";
    EXPECT_EQ(memory.substr(0x5000 - 1, 5), factory + "\xC0\xFF\xEE" + factory) << "the ID at 0x09000";
    EXPECT_EQ(memory.substr(0x08CD, 12), std::string(12, static_cast<char>(Rom::kFactoryByte)))
        << "nothing at the default place";
}

}  // namespace
}  // namespace veltra::sim
