#include <chrono>
#include <cstdint>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rombootloader/BootloaderFrames.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/Trace.h"
#include "support/Bytes.h"

namespace veltra::sim {
namespace {

using namespace std::chrono_literals;
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
const ByteString kRead = Bytes({0x11, 0xEE});
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

    // What each erase clears: EachEraseClearsItsOwnAreas.
    EXPECT_EQ(Send(rom, kErase), kAck);
    EXPECT_EQ(Send(rom, Bytes({0xFF, 0x00})), kAck);
    EXPECT_EQ(rom.GlobalErases(), 1);
    EXPECT_EQ(Exchange(rom, {kErase, Bytes({0xEE, 0x11})}), kAck + kAck);
    EXPECT_EQ(rom.EepromErases(), 1);

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
        {"unknown command", "", Bytes({0x02, 0xFD})},
        {"unknown erase parameter", kErase, Bytes({0xFF, 0x01})},
        {"address checksum", kWrite, badAddress},
        {"address below the memory", kWrite, AddressFrame(0x3FFF)},
        {"address past the memory", kWrite, AddressFrame(Rom::kMemoryEnd)},
        {"data checksum", kWrite + AddressFrame(0x9000), badData},
        {"data past the memory", kWrite + AddressFrame(Rom::kMemoryEnd - 2), DataFrame(kPayload)},
        {"read address checksum", kRead, badAddress},
        {"read address below the memory", kRead, AddressFrame(0x3FFF)},
        {"read address past the memory", kRead, AddressFrame(Rom::kMemoryEnd)},
        {"read count complement", kRead + AddressFrame(0x9000), Bytes({0x03, 0xFB})},
        {"read past the memory", kRead + AddressFrame(Rom::kMemoryEnd - 2), Bytes({0x03, 0xFC})},
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

TEST(RomBootloaderDevice, ReadMemoryAnswersWithWhatTheMemoryHolds) {
    Rom rom;
    rom.OnBytes(Bytes({0x7F}));
    ASSERT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9000), DataFrame(kPayload)}), kAck + kAck + kAck);

    // The count frame is N-1 and its complement; its acknowledgement comes
    // before the N bytes. The read reaches past the record on both sides.
    const ByteString factory = Bytes({Rom::kFactoryByte});
    EXPECT_EQ(Exchange(rom, {kRead, AddressFrame(0x8FFF), Bytes({0x05, 0xFA})}),
              kAck + kAck + kAck + factory + kPayload + factory);
    const RomFrame count = rom.Log().back();
    EXPECT_TRUE(count.kind == RomFrame::Kind::ReadCount && count.acknowledged && count.address == 0x8FFF);
    EXPECT_EQ(count.bytes, Bytes({0x05, 0xFA}));
    EXPECT_EQ(rom.Log()[rom.Log().size() - 2].kind, RomFrame::Kind::ReadAddress);

    // The largest read, ending at the last byte modelled.
    EXPECT_EQ(Exchange(rom, {kRead, AddressFrame(Rom::kMemoryEnd - 256), Bytes({0xFF, 0x00})}),
              kAck + kAck + kAck + ByteString(256, static_cast<char>(Rom::kFactoryByte)));

    // A read leaves the bootloader waiting for the next command.
    EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9080), DataFrame(kPayload)}), kAck + kAck + kAck);
    EXPECT_EQ(rom.Memory(0x9080, 4), kPayload);
}

// A reply's pieces as values, to compare whole.
struct Timed {
    ByteString bytes;
    std::chrono::milliseconds pause;
    bool operator==(const Timed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Timed& piece) {
    return out << "[" << Hex(piece.bytes) << " after " << piece.pause.count() << " ms]";
}

std::vector<Timed> Pieces(const Reply& reply) {
    std::vector<Timed> pieces;
    for (const Piece& piece : reply) pieces.push_back({piece.bytes, piece.pauseBefore});
    return pieces;
}

TEST(RomBootloaderDevice, TheChipsWorkDelaysOnlyTheAcknowledgementOfWhatItWrites) {
    const ByteString global = Bytes({0xFF, 0x00});
    struct Case {
        const char* what;
        RomOptions options;
        std::vector<ByteString> lead;  // answered at once, one arrival each
        ByteString frame;
        Timed answer;
    };
    const std::vector<Case> cases = {
        {"record written", {.programTime = 7ms}, {kWrite, AddressFrame(0x9000)}, DataFrame(kPayload), {kAck, 7ms}},
        {"record corrupted", {.programTime = 7ms, .corruptWriteAt = 0x9000}, {kWrite, AddressFrame(0x9000)},
         DataFrame(kPayload), {kAck, 7ms}},
        {"record refused", {.refuseDataFrame = 1, .programTime = 7ms}, {kWrite, AddressFrame(0x9000)},
         DataFrame(kPayload), {kNack, 0ms}},
        {"record, erase time only", {.eraseTime = 40ms}, {kWrite, AddressFrame(0x9000)}, DataFrame(kPayload), {kAck, 0ms}},
        {"global erase", {.eraseTime = 40ms}, {kErase}, global, {kAck, 40ms}},
        {"EEPROM erase", {.eraseTime = 40ms}, {kErase}, Bytes({0xEE, 0x11}), {kAck, 40ms}},
        {"unknown erase parameter", {.eraseTime = 40ms}, {kErase}, Bytes({0xFF, 0x01}), {kNack, 0ms}},
        {"erase, program time only", {.programTime = 7ms}, {kErase}, global, {kAck, 0ms}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rom rom(c.options);
        EXPECT_EQ(Pieces(rom.OnBytes(Bytes({0x7F}))), (std::vector<Timed>{{kAck, 0ms}}));
        for (const ByteString& frame : c.lead) EXPECT_EQ(Pieces(rom.OnBytes(frame)), (std::vector<Timed>{{kAck, 0ms}}));
        EXPECT_EQ(Pieces(rom.OnBytes(c.frame)), std::vector<Timed>{c.answer});
    }

    // Frames in one arrival: what comes before the programming goes at once,
    // what follows it goes with the late acknowledgement.
    Rom rom(RomOptions{.programTime = 7ms});
    rom.OnBytes(Bytes({0x7F}));
    EXPECT_EQ(Pieces(rom.OnBytes(kWrite + AddressFrame(0x9000) + DataFrame(kPayload) + kRead)),
              (std::vector<Timed>{{kAck + kAck, 0ms}, {kAck + kAck, 7ms}}));
}

TEST(RomBootloaderDevice, RefusesOrCorruptsTheRecordWrittenAtTheChosenAddress) {
    ByteString corrupted = kPayload;
    corrupted[0] = static_cast<char>(~corrupted[0]);
    struct Case {
        const char* what;
        RomOptions options;
        ByteString answer;  // to the data frame at 0x9080
        ByteString held;    // at 0x9080 afterwards
    };
    const std::vector<Case> cases = {
        {"refused", {.refuseWriteAt = 0x9080}, kNack, ByteString(4, static_cast<char>(Rom::kFactoryByte))},
        {"corrupted", {.corruptWriteAt = 0x9080}, kAck, corrupted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rom rom(c.options);
        rom.OnBytes(Bytes({0x7F}));
        for (const std::uint32_t address : {0x9000u, 0x9080u, 0x9100u}) {
            EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(address), DataFrame(kPayload)}),
                      kAck + kAck + (address == 0x9080 ? c.answer : kAck))
                << address;
        }
        EXPECT_EQ(rom.Memory(0x9000, 4), kPayload);
        EXPECT_EQ(rom.Memory(0x9100, 4), kPayload);
        // A read-back finds the difference at that address, and only there.
        EXPECT_EQ(Exchange(rom, {kRead, AddressFrame(0x907F), Bytes({0x05, 0xFA})}),
                  kAck + kAck + kAck + Bytes({Rom::kFactoryByte}) + c.held + Bytes({Rom::kFactoryByte}));
    }
}

TEST(RomBootloaderDevice, EachEraseClearsItsOwnAreas) {
    const ByteString factory = Bytes({Rom::kFactoryByte});
    const ByteString erased = Bytes({0x00});
    struct Place {
        const char* what;
        std::uint32_t address;
        bool global;  // cleared by the global erase
        bool eeprom;  // cleared by the EEPROM's erase
    };
    const std::vector<Place> places = {
        {"EEPROM, first byte", 0x4000, true, true},
        {"EEPROM, last byte", 0x47FF, true, true},
        {"an option byte", 0x4803, true, false},
        {"past the option bytes", 0x4880, false, false},
        {"below the program area", 0x7FFF, false, false},
        {"program area, first byte", 0x8000, true, false},
        {"program area, last byte", Rom::kMemoryEnd - 1, true, false},
    };
    for (const bool global : {true, false}) {
        SCOPED_TRACE(global ? "global erase" : "EEPROM erase");
        Rom rom;
        rom.OnBytes(Bytes({0x7F}));
        ASSERT_EQ(Exchange(rom, {kErase, global ? Bytes({0xFF, 0x00}) : Bytes({0xEE, 0x11})}), kAck + kAck);
        for (const Place& p : places) {
            EXPECT_EQ(rom.Memory(p.address, 1), (global ? p.global : p.eeprom) ? erased : factory) << p.what;
        }
    }
}

TEST(RomBootloaderDevice, GetListsTheVersionAndTheCommandsInOneReply) {
    const ByteString get = Bytes({0x00, 0xFF});
    // 0x79, five bytes follow less one, the version, the codes, 0x79.
    const ByteString reply = Bytes({0x79, 0x05, 0x13, 0x00, 0x11, 0x21, 0x31, 0x43, 0x79});
    Rom rom;
    rom.OnBytes(Bytes({0x7F}));
    const Reply answer = rom.OnBytes(get);
    ASSERT_EQ(answer.size(), 1u) << "one piece";
    EXPECT_EQ(Pieces(answer), (std::vector<Timed>{{reply, 0ms}}));
    const RomFrame noted = rom.Log().back();
    EXPECT_TRUE(noted.kind == RomFrame::Kind::Command && noted.acknowledged);
    EXPECT_EQ(rom.Frames(), std::vector<ByteString>{get});

    // Asked again, and in one arrival with the next command, each answered in turn.
    EXPECT_EQ(Send(rom, get + kErase), reply + kAck);
    EXPECT_EQ(Send(rom, Bytes({0xFF, 0x00})), kAck);
    EXPECT_EQ(rom.GlobalErases(), 1);
}

TEST(RomBootloaderDevice, ReadOutProtectionRefusesReadMemoryOnly) {
    Rom rom(RomOptions{.readProtected = true});
    rom.OnBytes(Bytes({0x7F}));
    // Refused at the command; the address that follows in the arrival is dropped.
    EXPECT_EQ(Send(rom, kRead + AddressFrame(0x48CD)), kNack);
    EXPECT_FALSE(rom.Log().back().acknowledged);
    EXPECT_EQ(Send(rom, Bytes({0x00, 0xFF})), Bytes({0x79, 0x05, 0x13, 0x00, 0x11, 0x21, 0x31, 0x43, 0x79}));
    EXPECT_EQ(Exchange(rom, {kErase, Bytes({0xFF, 0x00})}), kAck + kAck);
    EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(0x9000), DataFrame(kPayload)}), kAck + kAck + kAck);
    EXPECT_EQ(rom.Memory(0x9000, 4), kPayload);
    EXPECT_EQ(Send(rom, kRead), kNack) << "still protected";
}

TEST(RomBootloaderDevice, ChipIdIsReadWhereItSitsAndNothingChangesIt) {
    // The default: a die's x and y, the wafer, the lot "VT48305".
    EXPECT_EQ(DefaultChipId(), Bytes({0x00, 0x17, 0x00, 0x42, 0x09, 'V', 'T', '4', '8', '3', '0', '5'}));
    struct Case {
        const char* what;
        RomOptions options;
        std::uint32_t at;
        ByteString id;
    };
    const std::vector<Case> cases = {
        {"the default", {}, 0x48CD, DefaultChipId()},
        {"in the EEPROM", {.chipIdAt = 0x4100, .chipId = Bytes({0xC0, 0xFF, 0xEE})}, 0x4100, Bytes({0xC0, 0xFF, 0xEE})},
        {"one byte in the program area", {.chipIdAt = 0x9001, .chipId = Bytes({0x00})}, 0x9001, Bytes({0x00})},
        {"at the end of the memory", {.chipIdAt = Rom::kMemoryEnd - 2, .chipId = Bytes({0x12, 0x34})},
         Rom::kMemoryEnd - 2, Bytes({0x12, 0x34})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto count = static_cast<std::uint8_t>(c.id.size() - 1);
        const ByteString read = kRead + AddressFrame(c.at) + Bytes({count, static_cast<std::uint8_t>(~count)});
        Rom rom(c.options);
        rom.OnBytes(Bytes({0x7F}));
        EXPECT_EQ(Send(rom, read), kAck + kAck + kAck + c.id);

        EXPECT_EQ(Exchange(rom, {kErase, Bytes({0xFF, 0x00}), kErase, Bytes({0xEE, 0x11})}), kAck + kAck + kAck + kAck);
        // A write that reaches into the ID from below is refused whole; the
        // byte just past it is written.
        EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(c.at - 3), DataFrame(kPayload)}), kAck + kAck + kNack);
        EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(c.at - 4), DataFrame(kPayload)}), kAck + kAck + kAck);
        if (c.at + c.id.size() < Rom::kMemoryEnd) {
            const std::uint32_t past = c.at + static_cast<std::uint32_t>(c.id.size());
            EXPECT_EQ(Exchange(rom, {kWrite, AddressFrame(past), DataFrame(Bytes({0xA5}))}), kAck + kAck + kAck);
            EXPECT_EQ(rom.Memory(past, 1), Bytes({0xA5}));
        }
        EXPECT_EQ(rom.Memory(c.at - 4, 4), kPayload);
        EXPECT_EQ(Send(rom, read), kAck + kAck + kAck + c.id);
        EXPECT_EQ(rom.Memory(c.at, c.id.size()), c.id);
    }
}

TEST(RomBootloaderDevice, ChipIdOrCalibrationThatDoesNotFitIsRefused) {
    struct Case {
        const char* what;
        RomOptions options;
    };
    const std::vector<Case> cases = {
        {"an empty ID", {.chipId = ""}},
        {"an ID of 257 bytes", {.chipId = ByteString(257, '\x01')}},
        {"an ID below the memory", {.chipIdAt = Rom::kMemoryStart - 1}},
        {"an ID past the memory", {.chipIdAt = Rom::kMemoryEnd - 2, .chipId = Bytes({1, 2, 3})}},
        {"calibration past 0x043FF", {.calibration = ByteString(1025, '\x01')}},
    };
    for (const Case& c : cases) EXPECT_THROW(Rom{c.options}, std::invalid_argument) << c.what;
}

TEST(RomBootloaderDevice, CalibrationIsHeldUntilAnEraseClearsTheEeprom) {
    const ByteString pattern = Rom::CalibrationPattern();
    ASSERT_EQ(pattern.size(), 1024u);
    EXPECT_EQ(pattern.find_first_of(Bytes({Rom::kFactoryByte, 0x00, 0xFF})), ByteString::npos)
        << "every byte tells calibration from the factory's and from an erase";
    EXPECT_NE(pattern.substr(0, 512), pattern.substr(512)) << "a copy at the wrong place shows";
    EXPECT_EQ(pattern, Rom::CalibrationPattern()) << "the same every time";

    const ByteString factory(1, static_cast<char>(Rom::kFactoryByte));
    for (const ByteString& parameter : {Bytes({0xFF, 0x00}), Bytes({0xEE, 0x11})}) {
        SCOPED_TRACE(Hex(parameter));
        Rom rom(RomOptions{.calibration = pattern});
        EXPECT_EQ(rom.Memory(0x4000, 1024), pattern);
        EXPECT_EQ(rom.Memory(0x4400, 1), factory) << "the rest of the EEPROM as ever";
        rom.OnBytes(Bytes({0x7F}));
        // Read Memory hands it out as any memory.
        EXPECT_EQ(Send(rom, kRead + AddressFrame(0x4300) + Bytes({0xFF, 0x00})),
                  kAck + kAck + kAck + pattern.substr(0x300));
        EXPECT_EQ(Exchange(rom, {kErase, parameter}), kAck + kAck);
        EXPECT_EQ(rom.Memory(0x4000, 1024), ByteString(1024, '\0'));
    }

    // Content of the caller's own: what it does not cover keeps the factory byte.
    Rom own(RomOptions{.calibration = "cal"});
    EXPECT_EQ(own.Memory(0x4000, 4), "cal" + factory);
}

}  // namespace
}  // namespace veltra::sim
