#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rombootloader/BootloaderFrames.h"
#include "sim/RomBootloaderDevice.h"
#include "support/Bytes.h"

namespace veltra::sim {
namespace {

using Rom = RomBootloaderDevice;
using rom::AddressFrame;
using veltra::testing::Bytes;

ByteString Joined(const Reply& reply) {
    ByteString all;
    for (const Piece& piece : reply) all += piece.bytes;
    return all;
}

ByteString DataFrame(const ByteString& data) {
    return rom::DataFrame(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

const ByteString kAck = Bytes({0x79});
const ByteString kNack = Bytes({0x1F});
const ByteString kWrite = Bytes({0x31, 0xCE});
const ByteString kErase = Bytes({0x43, 0xBC});
const ByteString kPayload = Bytes({0x23, 0x00, 0x7F, 0xFF});

ByteString Send(Rom& rom, const ByteString& bytes) { return Joined(rom.OnBytes(bytes)); }

// Every frame of the flashing goes out as its own arrival, and so here, in order.
ByteString Exchange(Rom& rom, const std::vector<ByteString>& arrivals) {
    ByteString answers;
    for (const ByteString& arrival : arrivals) answers += Send(rom, arrival);
    return answers;
}

TEST(RomBootloaderDevice, ErasesWritesAndGoesLikeTheFlashingExpects) {
    Rom rom;
    EXPECT_EQ(rom.Memory(0x4000, 1), Bytes({Rom::kFactoryByte}));
    ASSERT_EQ(Send(rom, Bytes({0x7F})), kAck);

    EXPECT_EQ(Send(rom, kErase), kAck);
    EXPECT_EQ(Send(rom, Bytes({0xFF, 0x00})), kAck);
    EXPECT_EQ(rom.GlobalErases(), 1);
    EXPECT_EQ(rom.Memory(0x8000, 2), Bytes({0, 0}));
    EXPECT_EQ(rom.Memory(0x27FFF, 1), Bytes({0}));
    EXPECT_EQ(rom.Memory(0x4803, 1), Bytes({0}));                         // option bytes
    EXPECT_EQ(rom.Memory(0x47FF, 1), Bytes({Rom::kFactoryByte}));         // EEPROM kept
    EXPECT_EQ(rom.Memory(0x7FFF, 1), Bytes({Rom::kFactoryByte}));         // below the program area

    EXPECT_EQ(Exchange(rom, {kErase, Bytes({0xEE, 0x11})}), kAck + kAck);
    EXPECT_EQ(rom.EepromErases(), 1);
    EXPECT_EQ(rom.Memory(0x4000, 1) + rom.Memory(0x47FF, 1), Bytes({0, 0}));

    // An option byte, then a record; a frame split over arrivals is assembled by count.
    EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x4803), Bytes({0x00, 0x12, 0x12})}), kAck + kAck + kAck);
    EXPECT_EQ(rom.Memory(0x4802, 3), Bytes({0x00, 0x12, 0x00}));
    const ByteString record = DataFrame(ByteString(128, '\xFF'));
    EXPECT_EQ(record.back(), '\x7F');
    EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9000)}), kAck + kAck);
    EXPECT_EQ(Exchange(rom, {record.substr(0, 1), record.substr(1, 100)}), "");
    EXPECT_EQ(Send(rom, record.substr(101)), kAck);
    EXPECT_EQ(rom.Memory(0x9000, 128), ByteString(128, '\xFF'));
    EXPECT_EQ(rom.Memory(0x9080, 1), Bytes({0}));

    EXPECT_FALSE(rom.GoReceived());
    EXPECT_EQ(Send(rom, Bytes({0x21, 0xDE})), kAck);
    EXPECT_TRUE(rom.GoReceived());
    EXPECT_EQ(Send(rom, AddressFrame(0x8000) + kWrite), "") << "after Go it only waits";
    EXPECT_EQ(rom.Frames().size(), 11u);
    EXPECT_EQ(rom.Frames()[8], AddressFrame(0x9000));
    EXPECT_EQ(rom.Frames()[9], record);
}

TEST(RomBootloaderDevice, RefusesABadFrameAndResynchronisesOnTheNextCommand) {
    ByteString badAddress = AddressFrame(0x9000);
    badAddress.back() = static_cast<char>(badAddress.back() ^ 0x40);
    ByteString badData = DataFrame(kPayload);
    badData.back() = static_cast<char>(badData.back() ^ 0x01);

    struct Case {
        const char* what;
        ByteString lead;  // acknowledged frames that bring the bootloader to the bad one
        ByteString bad;
    };
    const std::vector<Case> cases = {
        {"wrong complement", "", Bytes({0x31, 0xCF})},
        {"unknown command", "", Bytes({0x00, 0xFF})},
        {"unknown erase parameter", kErase, Bytes({0xFF, 0x01})},
        {"address checksum", kWrite, badAddress},
        {"address below the memory", kWrite, AddressFrame(0x3FFF)},
        {"address past the memory", kWrite, AddressFrame(Rom::kMemoryEnd)},
        {"data checksum", kWrite + AddressFrame(0x9000), badData},
        {"data past the memory", kWrite + AddressFrame(Rom::kMemoryEnd - 2), DataFrame(kPayload)},
    };
    for (const Case& c : cases) {
        Rom rom;
        rom.OnBytes(Bytes({0x7F}));
        // The lead frames go one arrival each, as the flashing sends them.
        if (c.lead.size() > 2) {
            ASSERT_EQ(Exchange(rom, {c.lead.substr(0, 2), c.lead.substr(2)}), kAck + kAck) << c.what;
        } else if (!c.lead.empty()) {
            ASSERT_EQ(Send(rom, c.lead), kAck) << c.what;
        }
        // What follows the bad frame in the same arrival is dropped unanswered.
        EXPECT_EQ(Send(rom, c.bad + kWrite), kNack) << c.what;
        EXPECT_FALSE(rom.Log().back().acknowledged) << c.what;
        EXPECT_EQ(rom.GlobalErases(), 0) << c.what;

        // Back waiting for a command: a whole write goes through.
        EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9000), DataFrame(kPayload)}), kAck + kAck + kAck)
            << c.what;
        EXPECT_EQ(rom.Memory(0x9000, 4), kPayload) << c.what;
        EXPECT_EQ(rom.Memory(Rom::kMemoryEnd - 2, 2), ByteString(2, static_cast<char>(Rom::kFactoryByte))) << c.what;
    }
}

TEST(RomBootloaderDevice, RefusesTheChosenFrameOfAWrite) {
    struct Case {
        const char* what;
        RomOptions options;
        ByteString answers;  // to the command, the address frame, the data frame
        bool written;
    };
    const std::vector<Case> cases = {
        {"write command", {.refuseWriteCommand = 1}, kNack + kAck + kAck, true},
        {"address frame", {.refuseAddressFrame = 1}, kAck + kNack + kAck, true},
        {"data frame", {.refuseDataFrame = 1}, kAck + kAck + kNack, false},
    };
    for (const Case& c : cases) {
        Rom rom(c.options);
        rom.OnBytes(Bytes({0x7F}));
        EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9000), DataFrame(kPayload)}), c.answers)
            << c.what;
        EXPECT_EQ(rom.Memory(0x9000, 4) == kPayload, c.written) << c.what;
        // Only the first is refused.
        EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9080), DataFrame(kPayload)}), kAck + kAck + kAck)
            << c.what;
        EXPECT_EQ(rom.Memory(0x9080, 4), kPayload) << c.what;
    }
}

TEST(RomBootloaderDevice, SynchronisesOnTheChosenAttempt) {
    Rom rom(RomOptions{.syncAttempt = 3, .earlyReply = Bytes({0x00, 0x79}), .syncReply = Bytes({0x79, 0x00})});
    EXPECT_EQ(Send(rom, kWrite), "") << "asleep, only 0x7F counts";
    EXPECT_EQ(Send(rom, Bytes({0x7F})), Bytes({0x00, 0x79}));
    EXPECT_EQ(Send(rom, Bytes({0x7F})), Bytes({0x00, 0x79}));
    EXPECT_EQ(Send(rom, Bytes({0x7F})), Bytes({0x79, 0x00}));
    EXPECT_EQ(rom.SyncAttempts(), 3);
    EXPECT_EQ(Send(rom, kErase), kAck);
    EXPECT_TRUE(rom.Frames().size() == 1 && rom.Frames()[0] == kErase);

    Rom silent(RomOptions{.silentAfterSync = true});
    EXPECT_EQ(Send(silent, Bytes({0x7F})), kAck);
    EXPECT_EQ(Exchange(silent, {kErase, Bytes({0xFF, 0x00}), Bytes({0x7F})}), "");
    EXPECT_EQ(silent.GlobalErases(), 0);
}

}  // namespace
}  // namespace veltra::sim
