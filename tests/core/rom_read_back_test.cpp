// The read-back of a run (--verify): the option bytes, then the records, each
// compared with what the image gave them; the first difference fails the run
// in a box naming its address. The core's run in this process against the
// simulated bootloader over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "sim/RomBootloaderDevice.h"
#include "support/Bytes.h"
#include "support/SimLink.h"
#include "support/TempFolder.h"

namespace veltra::rom {
namespace {

using sim::RomFrame;
using sim::RomOptions;
using testing::Bytes;
using testing::SimLink;

// Two program records, and option values in the header that no erased or
// inverted byte could match by chance.
std::string Image() {
    std::string image(static_cast<std::size_t>(kProgramOffset) + kRecordSize + 100, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + 5);
    const std::string options = Bytes({0x12, 0x34, 0x56, 0x78});
    image.replace(19, 4, options);
    image[static_cast<std::size_t>(kProgramOffset)] = static_cast<char>(kProgramMarker);
    return image;
}

class RomReadBack : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (folder_.Path() / "image.bin").string();
        std::ofstream(path_, std::ios::binary) << image_;
    }
    FlashingOutcome Run(SimLink& link) {
        const FirmwareChoice choice{path_, folder_.Path().string() + "/", static_cast<std::int64_t>(image_.size())};
        return RunFlashing(link.port, link.op, link.wrs, choice, {.readBack = true, .progress = {}});
    }

    testing::TempFolder folder_{"veltra-read-back"};
    std::string image_ = Image();
    std::string path_;
};

TEST_F(RomReadBack, OptionBytesAreReadBackFirstInOneRead) {
    auto rom = std::make_shared<sim::RomBootloaderDevice>();
    SimLink link(rom);
    EXPECT_EQ(Run(link), FlashingOutcome::Written);
    EXPECT_TRUE(link.op.messages.empty()) << link.op.Shown();

    std::vector<RomFrame> reads;
    for (const RomFrame& frame : rom->Log()) {
        if (frame.kind == RomFrame::Kind::ReadCount) reads.push_back(frame);
    }
    ASSERT_EQ(reads.size(), 3u) << "the option bytes, then two records";
    EXPECT_EQ(reads[0].address, 0x4803u);
    EXPECT_EQ(reads[0].bytes, Bytes({0x06, 0xF9})) << "seven bytes, 0x4803 to 0x4809";
    EXPECT_EQ(reads[1].address, kProgramBase);
}

TEST_F(RomReadBack, TheFirstDifferenceFailsTheRunNamingItsAddress) {
    struct Case {
        const char* what;
        RomOptions options;
        std::string box;
    };
    const std::vector<Case> cases = {
        {"Alt Func", {.corruptWriteAt = 0x4803},
         "Read-back differs at 0x04803: the microcontroller holds 0xED, the image has 0x12"},
        {"WD+LSI", {.corruptWriteAt = 0x4805},
         "Read-back differs at 0x04805: the microcontroller holds 0xCB, the image has 0x34"},
        {"Clock Option", {.corruptWriteAt = 0x4807},
         "Read-back differs at 0x04807: the microcontroller holds 0xA9, the image has 0x56"},
        {"HSE Option", {.corruptWriteAt = 0x4809},
         "Read-back differs at 0x04809: the microcontroller holds 0x87, the image has 0x78"},
        // The run does not look at the answers of the option bytes' frames: only the read-back finds this.
        {"an option byte refused", {.refuseDataFrame = 2},
         "Read-back differs at 0x04805: the microcontroller holds 0x00, the image has 0x34"},
        {"an option byte and a record: the option byte", {.refuseDataFrame = 4, .corruptWriteAt = kProgramBase},
         "Read-back differs at 0x04809: the microcontroller holds 0x00, the image has 0x78"},
        {"read-out protection", {.readProtected = true},
         "Read-back failed: the microcontroller did not hand back the option bytes at 0x04803"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rom = std::make_shared<sim::RomBootloaderDevice>(c.options);
        SimLink link(rom);
        EXPECT_EQ(Run(link), FlashingOutcome::Refused);
        EXPECT_EQ(link.op.MessageTexts(), std::vector<std::string>{c.box});
        EXPECT_EQ(link.op.LastTrafficLog().substr(link.op.LastTrafficLog().size() - 17), "-----Failed------");
        EXPECT_TRUE(rom->GoReceived());
    }
}

}  // namespace
}  // namespace veltra::rom
