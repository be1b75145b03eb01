// veltra-load --loop --rom: blank boards one after another through their
// microcontroller's ROM bootloader, as a child process against simulated
// boards of this process on a real pseudo-terminal. What is on the line is
// put on and taken off by the test, as an operator does.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "sim/LoaderDevice.h"
#include "sim/RomBootloaderDevice.h"
#include "support/ChildProgram.h"
#include "support/LineOfDevices.h"
#include "support/LoadRun.h"
#include "support/RomLayout.h"
#include "support/LogLines.h"
#include "support/TempFolder.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using testing::kHeader;
using testing::kProgramOffset;
using testing::kRecord;
using sim::RomBootloaderDevice;
using sim::RomOptions;
using testing::ChildProgram;
using testing::LineOfDevices;
using testing::LogLines;

constexpr auto kPatience = testing::kLoadPatience;

// A program area of two records, the first with its marker.
std::string Image() {
    std::string image(kProgramOffset + 2 * kRecord, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 13 + 5) % 251);
    image[kProgramOffset] = 0x23;
    return image;
}

// The seconds of a device line vary; the rest is exact.
std::string WithoutSeconds(const std::string& out) {
    return std::regex_replace(out, std::regex(" in [0-9]+\\.[0-9] s"), " in S s");
}

ByteString ChipId(char last) { return ByteString("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xB0", 11) + last; }

std::string HexOf(const ByteString& bytes) {
    std::string text;
    for (const char c : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
        text += two;
    }
    return text;
}

std::shared_ptr<RomBootloaderDevice> Board(char idLast, bool readProtected = false) {
    RomOptions options;
    options.chipId = ChipId(idLast);
    options.readProtected = readProtected;
    return std::make_shared<RomBootloaderDevice>(options);
}

class RomLine : public ::testing::Test {
protected:
    RomLine() { std::ofstream(file_, std::ios::binary) << image_; }

    // What a board flashed whole holds in its program area.
    static void ExpectFlashed(const RomBootloaderDevice& board, const std::string& image) {
        EXPECT_EQ(board.Memory(0x9000, 2 * kRecord), image.substr(kProgramOffset));
        EXPECT_TRUE(board.GoReceived());
    }

    std::vector<std::string> Args(const std::string& port, std::vector<std::string> more = {}) const {
        std::vector<std::string> args{"--rom", "--loop", "--port", port, "--chip-id", "0x48CD:12", "--log", log_};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(file_);
        return args;
    }

    testing::TempFolder folder_{"veltra-rom-line"};
    const fs::path& dir_ = folder_.Path();
    std::string image_ = Image();
    std::string file_ = (dir_ / "image.bin").string();
    std::string log_ = (dir_ / "boards.jsonl").string();
};

// Two boards, one after the other; between them a flashed board whose own
// loader answers 0x7F and the first board again, reset into its bootloader:
// neither is flashed, both are waited off the line.
TEST_F(RomLine, FlashesEachBlankBoardOnceAndNothingElse) {
    auto lineOfDevices = std::make_shared<LineOfDevices>();
    const auto line = testing::LineFor(lineOfDevices);
    auto first = Board('\x01');
    lineOfDevices->Put(first);
    ChildProgram load(VELTRA_LOAD_PROGRAM, Args(line->Path()));

    ASSERT_TRUE(load.WaitForOutput("Waiting for device 1 to be taken off the line\n", kPatience)) << load.Output();
    ExpectFlashed(*first, image_);

    // A board running its firmware, whose loader answers the wake-up.
    auto loader = std::make_shared<sim::LoaderDevice>();
    lineOfDevices->Put(nullptr);
    ASSERT_TRUE(load.WaitForOutput("Waiting for the next device\n", kPatience)) << load.Output();
    lineOfDevices->Put(loader);
    ASSERT_TRUE(load.WaitForOutput("Waiting for the board to be taken off the line\n", kPatience)) << load.Output();
    EXPECT_TRUE(loader->Firmware().empty()) << "the loader took something for a block";

    // The first board again, back in its bootloader.
    auto again = Board('\x01');
    lineOfDevices->Put(nullptr);
    ASSERT_TRUE(load.WaitForOutput("Waiting for the next device\n", kPatience)) << load.Output();
    lineOfDevices->Put(again);
    ASSERT_TRUE(load.WaitForOutput("Waiting for the board to be taken off the line\n", kPatience)) << load.Output();
    EXPECT_EQ(again->GlobalErases(), 0) << "the board flashed last was erased again";
    EXPECT_FALSE(again->GoReceived());

    auto second = Board('\x02');
    lineOfDevices->Put(nullptr);
    ASSERT_TRUE(load.WaitForOutput("Waiting for the next device\n", kPatience)) << load.Output();
    lineOfDevices->Put(second);
    ASSERT_TRUE(load.WaitForOutput("Waiting for device 2 to be taken off the line\n", kPatience)) << load.Output();
    ExpectFlashed(*second, image_);

    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();
    const std::string id1 = HexOf(ChipId('\x01'));
    const std::string id2 = HexOf(ChipId('\x02'));
    EXPECT_EQ(WithoutSeconds(load.Output()),
              "Waiting for the next device\n"
              "#1 -----Succefull------ in S s, chip ID " + id1 + "\n"
              "Waiting for device 1 to be taken off the line\n"
              "Waiting for the next device\n"
              "no ROM bootloader: the device answered 0x7F but not Get; not flashed\n"
              "Waiting for the board to be taken off the line\n"
              "Waiting for the next device\n"
              "already flashed: chip ID " + id1 + "\n"
              "Waiting for the board to be taken off the line\n"
              "Waiting for the next device\n"
              "#2 -----Succefull------ in S s, chip ID " + id2 + "\n"
              "Waiting for device 2 to be taken off the line\n"
              "2 devices: 2 succeeded, 0 failed\n");
    EXPECT_EQ(load.ErrorOutput(), "");

    const auto records = LogLines(log_);
    ASSERT_EQ(records.size(), 2u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].value("device", 0), static_cast<int>(i + 1));
        EXPECT_EQ(records[i].value("operation", ""), "rom");
        EXPECT_EQ(records[i].value("result", ""), "-----Succefull------");
        // The image ends on a record's end: one more pass writes a record of 0xFF.
        EXPECT_EQ(records[i].value("bytes", 0), 3 * static_cast<int>(kRecord));
        EXPECT_EQ(records[i].value("chip_id", ""), i == 0 ? id1 : id2);
        EXPECT_EQ(records[i].value("exit", -1), 0);
    }
}

// A chip under read-out protection keeps its ID to itself: the run says so
// and flashes it all the same.
TEST_F(RomLine, UnreadableChipIdIsRecordedAndTheBoardFlashed) {
    auto board = Board('\x03', true);
    const auto line = testing::LineFor(board);
    ChildProgram load(VELTRA_LOAD_PROGRAM, Args(line->Path(), {"--quiet"}));
    ASSERT_TRUE(load.WaitForOutput("#1 ", kPatience)) << load.Output();
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();
    EXPECT_EQ(WithoutSeconds(load.Output()),
              "#1 -----Succefull------ in S s, chip ID unreadable\n"
              "1 device: 1 succeeded, 0 failed\n");
    ExpectFlashed(*board, image_);
    const auto records = LogLines(log_);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].value("chip_id", "?"), "");
    EXPECT_EQ(records[0].value("reason", ""), "chip ID unreadable");
}

// A board whose bootloader got one 0x7F more than the line's probe (held back
// by an adapter while the board came up) holds the first byte of a command:
// the first Get pairs with it and is refused. It is a bootloader all the same
// and is flashed.
class HeldBackProbe : public sim::Personality {
public:
    explicit HeldBackProbe(std::shared_ptr<RomBootloaderDevice> board) : board_(std::move(board)) {}
    sim::Reply OnBytes(const ByteString& bytes) override {
        if (first_ && bytes == ByteString(1, '\x7F')) {
            first_ = false;
            return board_->OnBytes(ByteString(2, '\x7F'));
        }
        return board_->OnBytes(bytes);
    }

private:
    std::shared_ptr<RomBootloaderDevice> board_;
    bool first_ = true;
};

TEST_F(RomLine, BoardHoldingAStrayProbeByteIsFlashed) {
    auto board = Board('\x04');
    const auto line = testing::LineFor(std::make_shared<HeldBackProbe>(board));
    ChildProgram load(VELTRA_LOAD_PROGRAM, Args(line->Path(), {"--quiet"}));
    ASSERT_TRUE(load.WaitForOutput("#1 ", kPatience)) << load.Output();
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();
    EXPECT_EQ(WithoutSeconds(load.Output()),
              "#1 -----Succefull------ in S s, chip ID " + HexOf(ChipId('\x04')) + "\n"
              "1 device: 1 succeeded, 0 failed\n");
    ExpectFlashed(*board, image_);
}

// Several ports at once, each its own line of boards.
TEST_F(RomLine, SeveralPortsEachFlashTheirBoard) {
    auto a = Board('\x0A');
    auto b = Board('\x0B');
    const auto lineA = testing::LineFor(a);
    const auto lineB = testing::LineFor(b);
    ChildProgram load(VELTRA_LOAD_PROGRAM, {"--rom", "--loop", "--port", lineA->Path(), "--port", lineB->Path(),
                                            "--chip-id", "0x48CD:12", file_});
    ASSERT_TRUE(load.WaitForOutputWhere(
        [&](const std::string& out) {
            return out.find(lineA->Path() + ": #1 ") != std::string::npos &&
                   out.find(lineB->Path() + ": #1 ") != std::string::npos;
        },
        kPatience))
        << load.Output();
    load.Signal(SIGINT);
    EXPECT_EQ(load.Finish(kPatience), 0) << load.ErrorOutput();
    ExpectFlashed(*a, image_);
    ExpectFlashed(*b, image_);
    const std::string out = WithoutSeconds(load.Output());
    EXPECT_NE(out.find(lineA->Path() + ": #1 -----Succefull------ in S s, chip ID " + HexOf(ChipId('\x0A'))),
              std::string::npos) << out;
    EXPECT_NE(out.find(lineB->Path() + ": #1 -----Succefull------ in S s, chip ID " + HexOf(ChipId('\x0B'))),
              std::string::npos) << out;
    EXPECT_NE(out.find("All 2 ports, 2 devices: 2 succeeded, 0 failed"), std::string::npos) << out;
}

}  // namespace
}  // namespace veltra::terminal
