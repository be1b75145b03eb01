// What a ROM bootloader run learns of the chip before its erase, and the
// data EEPROM kept through the erase: the core's run in this process against
// the simulated bootloader (or a scripted far end) over a real
// pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/ScriptedDevice.h"
#include "support/Bytes.h"
#include "support/SimLink.h"

namespace veltra::rom {
namespace {

using sim::RomBootloaderDevice;
using sim::RomFrame;
using sim::RomOptions;
using testing::Bytes;
using testing::SimLink;

constexpr std::uint32_t kEeprom = 0x4000;
constexpr std::size_t kKept = 1024;

// One program record after the header and the EEPROM records the run leaves
// out.
FirmwareImage Image() {
    FirmwareImage image;
    image.bytes.resize(static_cast<std::size_t>(kProgramOffset) + kRecordSize);
    for (std::size_t i = 0; i < image.bytes.size(); ++i) image.bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    image.bytes[static_cast<std::size_t>(kProgramOffset)] = kProgramMarker;
    return image;
}

ByteString ProgramRecord() {
    const FirmwareImage image = Image();
    ByteString record;
    for (auto at = image.bytes.begin() + kProgramOffset; at != image.bytes.end(); ++at) {
        record += static_cast<char>(*at);
    }
    return record;
}

bool IsEraseCommand(const RomFrame& frame) {
    return frame.kind == RomFrame::Kind::Command && frame.bytes == Command(kEraseMemory);
}

std::string Hex(int byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte & 0xFF));
    return text;
}

std::string LastTrafficLog(const SimLink& link) { return link.op.LastTrafficLog(); }

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(RomChipRun, TheChipIsAskedBeforeAnythingIsErased) {
    struct Case {
        const char* what;
        RomOptions device;
        bool flash;  // what beforeErase answers
        FlashingOutcome outcome;
        std::string lastWords;
        bool unreadable;
    };
    const Case cases[] = {
        {"the caller skips the chip", {}, false, FlashingOutcome::Skipped, "Not flashed", false},
        {"the caller flashes the chip", {}, true, FlashingOutcome::Written, "-----Succefull------", false},
        {"read-out protection hides the ID", {.readProtected = true}, true, FlashingOutcome::Written,
         "-----Succefull------", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rom = std::make_shared<RomBootloaderDevice>(c.device);
        SimLink link(rom);
        std::optional<ChipFacts> told;
        int erasesWhenTold = -1;
        FlashingOptions options;
        options.chipId = MemoryArea{0x48CD, 12};
        options.beforeErase = [&](const ChipFacts& facts) {
            told = facts;
            erasesWhenTold = rom->GlobalErases();
            return c.flash;
        };
        EXPECT_EQ(RunFlashing(link.port, link.op, link.wrs, Image(), options), c.outcome) << link.op.Shown();
        EXPECT_TRUE(EndsWith(LastTrafficLog(link), c.lastWords)) << LastTrafficLog(link);

        ASSERT_TRUE(told.has_value());
        EXPECT_EQ(erasesWhenTold, 0);
        EXPECT_EQ(told->chipIdUnreadable, c.unreadable);
        EXPECT_EQ(told->chipId, c.unreadable ? ByteString{} : sim::DefaultChipId());
        EXPECT_EQ(rom->GlobalErases(), c.flash ? 1 : 0);
        EXPECT_EQ(rom->GoReceived(), c.flash) << "a chip skipped gets no Go";
        EXPECT_EQ(rom->Memory(kProgramBase, kRecordSize) == ProgramRecord(), c.flash);

        // A Read Memory refused at its command sends no address: the next
        // frame is a command the bootloader takes.
        const std::vector<RomFrame> log = rom->Log();
        ASSERT_GE(log.size(), 1u);
        EXPECT_EQ(log[0].bytes, Command(kReadMemory));
        if (c.unreadable) {
            EXPECT_FALSE(log[0].acknowledged);
            ASSERT_GE(log.size(), 2u);
            EXPECT_TRUE(IsEraseCommand(log[1]) && log[1].acknowledged);
        }
    }
}

TEST(RomChipRun, WhatIsNoBootloaderOrWokenAlreadyIsToldApart) {
    // Answers the synchronisation, then nothing: no Get comes back.
    auto silent = std::make_shared<sim::ScriptedDevice>();
    silent->On(Bytes({0x7F}), {{Bytes({0x79})}});
    SimLink quiet(silent);
    bool asked = false;
    FlashingOptions options;
    options.requireGet = true;
    options.beforeErase = [&asked](const ChipFacts&) { return asked = true; };
    EXPECT_EQ(RunFlashing(quiet.port, quiet.op, quiet.wrs, Image(), options), FlashingOutcome::NotBootloader);
    EXPECT_TRUE(EndsWith(LastTrafficLog(quiet), "No bootloader")) << LastTrafficLog(quiet);
    EXPECT_FALSE(asked);
    // Get three times, the last after a lone byte that would complete a
    // command's pair a bootloader held; nothing else, no Go.
    EXPECT_EQ(quiet.device->Received(), Bytes({0x7F}) + Command(kGet) + Command(kGet) + Bytes({0xFF}) + Command(kGet));

    // Woken by someone else: the run goes straight to Get.
    auto rom = std::make_shared<RomBootloaderDevice>();
    rom->OnBytes(Bytes({0x7F}));
    SimLink awake(rom);
    options.synchronised = true;
    EXPECT_EQ(RunFlashing(awake.port, awake.op, awake.wrs, Image(), options), FlashingOutcome::Written)
        << awake.op.Shown();
    EXPECT_EQ(rom->SyncAttempts(), 1);
    EXPECT_EQ(awake.device->Received().substr(0, 2), Command(kGet));
    EXPECT_EQ(rom->Memory(kProgramBase, kRecordSize), ProgramRecord());
}

TEST(RomChipRun, KeptEepromIsHandedOverBeforeTheEraseAndWrittenBackAfterIt) {
    const ByteString calibration = RomBootloaderDevice::CalibrationPattern();
    auto rom = std::make_shared<RomBootloaderDevice>(RomOptions{.calibration = calibration});
    SimLink link(rom);
    ByteString kept;
    int erasesWhenKept = -1;
    FlashingOptions options;
    options.readBack = true;
    options.keepEeprom = [&](const ByteString& area) {
        kept = area;
        erasesWhenKept = rom->GlobalErases();
        return true;
    };
    EXPECT_EQ(RunFlashing(link.port, link.op, link.wrs, Image(), options), FlashingOutcome::Written)
        << link.op.Shown();
    EXPECT_TRUE(link.op.messages.empty()) << link.op.Shown();
    EXPECT_EQ(kept, calibration);
    EXPECT_EQ(erasesWhenKept, 0);
    EXPECT_EQ(rom->GlobalErases(), 1);
    EXPECT_EQ(rom->EepromErases(), 0);
    EXPECT_EQ(rom->Memory(kEeprom, kKept), calibration);
    EXPECT_EQ(rom->Memory(kProgramBase, kRecordSize), ProgramRecord());
    EXPECT_TRUE(rom->GoReceived());
}

TEST(RomChipRun, KeptEepromThatCannotBeKeptOrWrittenBackSaysSo) {
    const ByteString calibration = RomBootloaderDevice::CalibrationPattern();
    const std::string backupRemains =
        "The EEPROM was not written back: its backup file remains and can be written back with --restore-eeprom FILE";
    struct Case {
        const char* what;
        RomOptions device;
        bool kept;  // what keepEeprom answers
        bool eepromBox;
        FlashingOutcome outcome;
        std::vector<std::string> boxes;
        int erases;
        bool go;
        bool calibrationAfter;  // the chip holds its calibration at the end
    };
    const Case cases[] = {
        {"the EEPROM cannot be read", {.readProtected = true}, true, false, FlashingOutcome::Refused,
         {"The EEPROM could not be read: nothing was erased"}, 0, true, true},
        {"the backup cannot be kept", {}, false, false, FlashingOutcome::FileProblem, {}, 0, true, true},
        {"the EEPROM box is checked", {}, true, true, FlashingOutcome::FileProblem,
         {"The EEPROM cannot be kept and written from the image in one run"}, 0, false, true},
        {"a kept record refused", {.refuseWriteAt = kEeprom + 0x80}, true, false, FlashingOutcome::Refused,
         {" data -159,part error", backupRemains}, 1, true, false},
        {"a kept record read back different", {.corruptWriteAt = kEeprom + 0x80}, true, false,
         FlashingOutcome::Refused,
         {"Read-back differs at 0x04080: the microcontroller holds " + Hex(~calibration[0x80]) +
              ", the backup has " + Hex(calibration[0x80]),
          backupRemains},
         1, true, false},
        // Written back all the same: the erase has cleared it either way.
        {"a program record refused", {.refuseWriteAt = kProgramBase}, true, false, FlashingOutcome::Refused,
         {" data 0,part error"}, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RomOptions device = c.device;
        device.calibration = calibration;
        auto rom = std::make_shared<RomBootloaderDevice>(device);
        SimLink link(rom);
        link.op.eeprom = c.eepromBox;
        bool handedOver = false;
        FlashingOptions options;
        options.keepEeprom = [&](const ByteString&) {
            handedOver = true;
            return c.kept;
        };
        EXPECT_EQ(RunFlashing(link.port, link.op, link.wrs, Image(), options), c.outcome);
        EXPECT_EQ(link.op.MessageTexts(), c.boxes);
        EXPECT_EQ(rom->GlobalErases() + rom->EepromErases(), c.erases);
        EXPECT_EQ(rom->GoReceived(), c.go);
        EXPECT_EQ(handedOver, !c.device.readProtected && !c.eepromBox);
        EXPECT_EQ(rom->Memory(kEeprom, kKept) == calibration, c.calibrationAfter);
        if (c.erases == 0) {
            EXPECT_TRUE(EndsWith(LastTrafficLog(link), c.go ? "Not flashed" : "Running !  "))
                << LastTrafficLog(link);
        }
        if (c.eepromBox) {
            EXPECT_TRUE(link.device->Received().empty()) << "nothing sent";
        }
    }
}

TEST(RomChipRun, RestoreWritesTheBackupBackAndNothingElse) {
    const ByteString backup = RomBootloaderDevice::CalibrationPattern();
    auto rom = std::make_shared<RomBootloaderDevice>();
    SimLink link(rom);
    EXPECT_EQ(RestoreEeprom(link.port, link.op, link.wrs, backup, std::chrono::milliseconds(1000)),
              FlashingOutcome::Written)
        << link.op.Shown();
    EXPECT_TRUE(link.op.messages.empty()) << link.op.Shown();
    EXPECT_TRUE(EndsWith(LastTrafficLog(link), "EEPROM restored")) << LastTrafficLog(link);
    EXPECT_EQ(rom->Memory(kEeprom, kKept), backup);
    EXPECT_EQ(rom->Memory(kEeprom + kKept, 1), Bytes({RomBootloaderDevice::kFactoryByte})) << "only the area";
    EXPECT_EQ(rom->GlobalErases() + rom->EepromErases(), 0);
    EXPECT_FALSE(rom->GoReceived());
    for (const RomFrame& frame : rom->Log()) {
        if (frame.kind != RomFrame::Kind::Command) {
            EXPECT_TRUE(frame.address >= kEeprom && frame.address < kEeprom + kKept) << frame.address;
        } else {
            EXPECT_TRUE(frame.bytes == Command(kWriteMemory) || frame.bytes == Command(kReadMemory));
        }
    }

    // A backup of another length never reaches the line.
    auto other = std::make_shared<RomBootloaderDevice>();
    SimLink untouched(other);
    EXPECT_EQ(RestoreEeprom(untouched.port, untouched.op, untouched.wrs, backup.substr(1)),
              FlashingOutcome::FileProblem);
    EXPECT_TRUE(untouched.device->Received().empty());
}

}  // namespace
}  // namespace veltra::rom
