// veltra-load --rom: the microcontroller programmed through its ROM
// bootloader from a terminal, as a child process against the simulated
// bootloader of this process over a real pseudo-terminal.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/RomBootloaderDevice.h"
#include "support/LoadRun.h"
#include "support/RomLayout.h"
#include "support/TempFolder.h"
#include "support/LogLines.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using testing::kHeader;
using testing::kProgramOffset;
using testing::kRecord;
using testing::kProgramBase;
using sim::RomBootloaderDevice;
using sim::RomOptions;
using testing::Ended;
using testing::ExpectPlain;
using testing::LineFor;
using testing::Lines;
using testing::LoadToTheEnd;


// An image with EEPROM records, three program records (the last one short)
// and option values in its header.
std::string Image() {
    std::string image(kProgramOffset + 2 * kRecord + 40, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 11 + 7) % 251);
    image[kProgramOffset] = 0x23;
    return image;
}

unsigned ImageByte(std::size_t offset) { return static_cast<std::uint8_t>(Image()[offset]); }

std::string Hex(unsigned byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte & 0xFFu);
    return text;
}

class LoadRom : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = Image();
        file_ = Write("image.bin", image_);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // What the image puts into the program area: its records, the last one
    // padded with 0xFF.
    std::string Program() const {
        std::string program = image_.substr(kProgramOffset);
        program.resize(3 * kRecord, '\xFF');
        return program;
    }

    Ended Run(const std::shared_ptr<RomBootloaderDevice>& rom, std::vector<std::string> options) {
        const auto line = LineFor(rom);
        std::vector<std::string> args{"--rom", "--port", line->Path(), "--wait", "1"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(file_);
        Ended run = LoadToTheEnd(args);
        ExpectPlain(run);
        return run;
    }

    testing::TempFolder folder_{"veltra-rom"};
    const fs::path& dir_ = folder_.Path();
    std::string image_;
    std::string file_;
};

TEST_F(LoadRom, WritesTheImageAndEndsWithTheRunsLastWords) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        bool eeprom;
    };
    const Case cases[] = {
        {"program area only", {}, false},
        {"with the EEPROM", {"--eeprom"}, true},
        {"at 115200 baud", {"--baud", "115200"}, false},
        {"read back", {"--verify"}, false},
        {"quiet", {"--quiet", "--eeprom", "--verify", "--baud=57600"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rom = std::make_shared<RomBootloaderDevice>();
        const Ended run = Run(rom, c.options);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        // On a pipe the only line is the closing one.
        EXPECT_EQ(run.out, "-----Succefull------\n");
        EXPECT_EQ(rom->Memory(kProgramBase, 3 * kRecord), Program());
        EXPECT_EQ(rom->Memory(0x4803, 1), image_.substr(19, 1)) << "option bytes from the header";
        EXPECT_EQ(rom->EepromErases(), c.eeprom ? 1 : 0);
        const std::string eeprom = rom->Memory(0x4000, 8 * kRecord);
        if (c.eeprom) {
            EXPECT_EQ(eeprom, image_.substr(kHeader, 8 * kRecord));
        } else {
            EXPECT_EQ(eeprom, std::string(8 * kRecord, '\0')) << "cleared by the global erase";
        }
        EXPECT_TRUE(rom->GoReceived());
    }
}

TEST_F(LoadRom, EachKindOfFailureHasItsExitCode) {
    struct Case {
        const char* what;
        RomOptions options;
        std::vector<std::string> extra;
        int code;
        std::string out;
        std::vector<std::string> err;
    };
    const Case cases[] = {
        {"a refused record", {.refuseWriteAt = kProgramBase + kRecord}, {}, 1, "-----Failed------\n",
         {" data 1,part error"}},
        {"a refused erase", {.refuseEraseCommand = true}, {}, 1, "-----Failed------\n",
         {"Erase error: the microcontroller did not acknowledge the erase; nothing was written"}},
        {"a record read back different", {.corruptWriteAt = kProgramBase + kRecord}, {"--verify"}, 1,
         "-----Failed------\n",
         {"Read-back differs at 0x09080: the microcontroller holds " + Hex(~ImageByte(kProgramOffset + kRecord)) +
          ", the image has " + Hex(ImageByte(kProgramOffset + kRecord))}},
        {"no synchronisation", {.syncAttempt = 1000}, {}, 2, "No connection\n",
         {"No answer from device. Keep waiting? — no"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rom = std::make_shared<RomBootloaderDevice>(c.options);
        const Ended run = Run(rom, c.extra);
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_EQ(run.out, c.out);
        const std::vector<std::string> err = Lines(run.err);
        ASSERT_EQ(err.size(), c.err.size()) << run.err;
        for (std::size_t i = 0; i < err.size(); ++i) EXPECT_EQ(err[i].substr(0, c.err[i].size()), c.err[i]);
        EXPECT_EQ(rom->GoReceived(), c.code == 1);
    }
}

TEST_F(LoadRom, FilePortAndUsageProblemsEndBeforeTheLine) {
    std::string unmarked = Image();
    unmarked[kProgramOffset] = 0x00;
    const std::string unfit = Write("unfit.bin", unmarked);
    const std::string missing = (dir_ / "missing.bin").string();
    struct Case {
        const char* what;
        std::vector<std::string> args;  // the port is the simulated one unless they name another
        int code;
        std::string err;
    };
    const Case cases[] = {
        {"a missing file", {"--rom", missing}, 3, "Cannot open firmware file " + missing},
        {"an image without the program marker", {"--rom", unfit}, 3, " File corrupt\n"},
        {"a port that is not there", {"--rom", "--port", (dir_ / "no-tty").string(), file_}, 4, "Com Port "},
        {"a line of boards with an image without the program marker", {"--rom", "--loop", unfit}, 3,
         " File corrupt\n"},
        {"--keep-eeprom with --eeprom", {"--rom", "--keep-eeprom", "--eeprom", file_}, 64,
         "veltra-load: --keep-eeprom and --eeprom cannot go together"},
        {"--baud without --rom", {"--baud", "115200", file_}, 64, "veltra-load: --baud goes with --rom only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rom = std::make_shared<RomBootloaderDevice>();
        const auto line = LineFor(rom);
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "--port") == args.end()) {
            args.insert(args.begin(), {"--port", line->Path()});
        }
        const Ended run = LoadToTheEnd(args);
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(line->Received().empty()) << "nothing reached the line";
    }
}

// --log: the run's line, with the bytes of the records written.
TEST_F(LoadRom, LogHasTheRunsLineWithTheRecordsWritten) {
    struct Case {
        const char* what;
        RomOptions device;
        std::vector<std::string> options;
        std::string result;
        std::int64_t records;
        int exit;
    };
    const Case cases[] = {
        {"program area only", {}, {}, "-----Succefull------", 3, 0},
        {"with the EEPROM, read back", {}, {"--eeprom", "--verify"}, "-----Succefull------", 8 + 3, 0},
        {"a refused record", {.refuseWriteAt = kProgramBase + kRecord}, {}, "-----Failed------", 1, 1},
        {"no synchronisation", {.syncAttempt = 1000}, {}, "No connection", 0, 2},
    };
    const std::string log = (dir_ / "rom.jsonl").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(log);
        auto rom = std::make_shared<RomBootloaderDevice>(c.device);
        std::vector<std::string> options{"--log", log};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const Ended run = Run(rom, options);
        EXPECT_EQ(run.code, c.exit) << run.err;

        const auto lines = testing::LogLines(log);
        ASSERT_EQ(lines.size(), 1u);
        const auto& l = lines[0];
        testing::ExpectLineShape(l);
        EXPECT_EQ(l.value("port", "").rfind("/dev/", 0), 0u) << l.dump();
        EXPECT_EQ(l.value("device", 0), 1);
        EXPECT_EQ(l.value("operation", ""), "rom");
        EXPECT_EQ(l.value("file", ""), file_);
        EXPECT_EQ(l.value("size", 0), static_cast<int>(image_.size()));
        EXPECT_EQ(l.value("sha256", ""), testing::Sha256Of(image_));
        EXPECT_EQ(l.value("result", ""), c.result);
        EXPECT_EQ(l.value("bytes", -1), c.records * static_cast<std::int64_t>(kRecord));
        EXPECT_EQ(l.value("exit", -1), c.exit);
    }
}

TEST_F(LoadRom, LogThatCannotBeOpenedEndsBeforeTheLine) {
    const std::string nowhere = (dir_ / "no-such-folder" / "rom.jsonl").string();
    auto rom = std::make_shared<RomBootloaderDevice>();
    const auto line = LineFor(rom);
    const Ended run = LoadToTheEnd({"--rom", "--port", line->Path(), "--log", nowhere, file_});
    EXPECT_EQ(run.code, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Cannot open the log file " + nowhere + ": No such file or directory\n");
    EXPECT_TRUE(line->Received().empty()) << "nothing reached the line";
}

}  // namespace
}  // namespace veltra::terminal
