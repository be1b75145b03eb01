// Programming through the ROM bootloader over the Win32 port, against
// veltra-sim --rom on COM1.
#include <gtest/gtest.h>

#include "Com1.h"
#include "firmware/FileChoice.h"
#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"

namespace veltra::wine {
namespace {

// The bootloader answers each frame with one byte, which never ends the
// exchange's eight reads early: shorter reads keep the run short.
constexpr ReadTimeouts kQuickReads{10, 40};

TEST(Flashing, ShortImageIsWrittenAsOneProgramRecord) {
    // Header and records 0..159 of pattern, then record 160 (the program
    // area): its marker and 100 more bytes.
    ByteString image = Pattern(static_cast<std::size_t>(rom::kProgramOffset));
    AppendByte(image, rom::kProgramMarker);
    image += Pattern(100, 3);

    TempFolder folder;
    Com1 com(kQuickReads);
    ASSERT_TRUE(com.Open()) << com.Shown();
    FirmwareChoice choice;
    com.op.openAnswers.push_back(folder.Write("image.bin", image));
    ChooseFirmwareFile(com.op, choice);
    com.op.eeprom = false;
    rom::RunFlashing(com.port, com.op, com.wrs, choice);

    EXPECT_EQ(com.op.LastTrafficLog(), "Running !  Ok!     Block 1    -----Succefull------");
    EXPECT_TRUE(com.op.messages.empty()) << com.Shown();
}

}  // namespace
}  // namespace veltra::wine
