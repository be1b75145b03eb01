#pragma once
// The microcontroller's ROM USART bootloader, as far as the flashing uses it:
// 0x7F synchronisation, then commands as code + complement (Get, Erase Memory,
// Write Memory, Read Memory, Go), address and data frames with XOR checksums, answered 0x79
// (acknowledge) or 0x1F (refusal). Memory is modelled over [kMemoryStart,
// kMemoryEnd) and holds the old firmware (kFactoryByte) until erased or written,
// the chip's unique ID (factory-programmed: no erase or write changes it) and,
// when asked for, calibration in the data EEPROM.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/Personality.h"

namespace veltra::sim {

// The unique ID a chip of the simulator carries unless told otherwise: a
// die's position on its wafer (x, y: two bytes each), the wafer's number and
// its lot's name in seven ASCII characters.
ByteString DefaultChipId();

struct RomOptions {
    int syncAttempt = 1;           // answer 0x7F on this attempt
    ByteString earlyReply{};       // reply to earlier attempts ("" = silence), e.g. "\x00\x79"
    ByteString syncReply{"\x79"};  // e.g. "\x79\x00"
    int refuseWriteCommand = 0;    // the n-th Write Memory command (1-based) is answered 0x1F, but the device goes on as if it took it
    int refuseAddressFrame = 0;    // the n-th address frame is answered 0x1F, the device goes on as if it took it
    int refuseDataFrame = 0;       // the n-th data frame is answered 0x1F and not written
    bool refuseEraseCommand = false;    // Erase Memory answered 0x1F (a read-protected part, say); nothing erased
    bool refuseEraseParameter = false;  // the erase parameter frame answered 0x1F; nothing erased
    bool silentAfterSync = false;  // acknowledges the sync, then never answers again
    std::chrono::milliseconds programTime{0};       // a data frame written is acknowledged after this pause
    std::chrono::milliseconds eraseTime{0};         // an erase parameter taken is acknowledged after this pause
    std::optional<std::uint32_t> refuseWriteAt{};   // a data frame written here is answered 0x1F and not written
    std::optional<std::uint32_t> corruptWriteAt{};  // a data frame written here is acknowledged, its first byte stored inverted
    bool readProtected = false;  // read-out protection: Read Memory refused at its command; Get, erase and writes go on
    std::uint32_t chipIdAt = 0x48CD;  // where Read Memory finds the unique ID
    // 1 to 256 bytes inside the modelled memory; a data frame that reaches into it is refused.
    ByteString chipId = DefaultChipId();
    // Held from 0x4000 at the start (at most the 1024 bytes to 0x43FF), e.g. CalibrationPattern().
    ByteString calibration{};
};

// One frame after the sync, as the bootloader understood it.
struct RomFrame {
    // Address and Data: of a Write Memory; ReadAddress and ReadCount (N-1, ~(N-1)): of a Read Memory.
    enum class Kind { Command, EraseParameter, Address, Data, ReadAddress, ReadCount };
    Kind kind;
    ByteString bytes;            // as received
    bool acknowledged;           // answered 0x79
    std::uint32_t address = 0;   // Address and Data: where the write goes; ReadAddress and ReadCount: where the read starts
};

class RomBootloaderDevice : public Personality {
public:
    static constexpr std::uint32_t kMemoryStart = 0x4000, kMemoryEnd = 0x28000;  // modelled range [start, end)
    static constexpr std::uint8_t kFactoryByte = 0x5A;  // what memory holds before any erase ("old firmware")
    static constexpr std::uint32_t kEepromStart = 0x4000, kEepromEnd = 0x4800;
    static constexpr std::uint32_t kOptionStart = 0x4800, kOptionEnd = 0x4880;
    static constexpr std::uint32_t kProgramStart = 0x8000;
    static constexpr std::uint32_t kCalibrationStart = 0x4000, kCalibrationEnd = 0x4400;
    static constexpr std::uint8_t kVersion = 0x13;  // what Get reports
    // The command codes Get lists: Get, Read Memory, Go, Write Memory, Erase Memory.
    static constexpr std::uint8_t kCommands[] = {0x00, 0x11, 0x21, 0x31, 0x43};

    // Calibration as a device leaves its adjustment: 1024 bytes that differ
    // from place to place and hold neither kFactoryByte nor an erased 0x00
    // (nor 0xFF), so that whether they were kept or lost shows in every byte.
    static ByteString CalibrationPattern();

    // Throws std::invalid_argument for a chip ID or calibration that does not fit.
    explicit RomBootloaderDevice(RomOptions options = {});

    // Throws std::out_of_range outside the modelled range.
    ByteString Memory(std::uint32_t address, std::size_t length) const;
    int SyncAttempts() const;
    int GlobalErases() const;  // 0x43 0xBC then 0xFF 0x00: program area 0x8000.., option bytes, EEPROM erased to 0x00
    int EepromErases() const;  // 0x43 0xBC then 0xEE 0x11: EEPROM area 0x4000..0x47FF erased to 0x00
    std::vector<ByteString> Frames() const;  // every command/address/data frame after the sync, as received
    std::vector<RomFrame> Log() const;       // the same frames, with what the bootloader made of them
    bool GoReceived() const;

    Reply OnBytes(const ByteString& bytes) override;

private:
    enum class Stage { Asleep, Command, EraseParameter, WriteAddress, WriteData, ReadAddress, ReadCount, AfterGo, Hung };
    struct Answer {
        ByteString bytes;                     // 0x79 or 0x1F, and what a read returns
        bool resynchronise;                   // a bad frame: drop the rest of this arrival, wait for a command
        std::chrono::milliseconds pause{0};  // before the answer: the chip at work
    };

    // The rest are called with mutex_ held.
    std::size_t FrameLength() const;
    Answer TakeFrame(const ByteString& frame);
    Answer TakeCommand(const ByteString& frame);
    Answer TakeGet(const ByteString& frame);
    Answer TakeEraseParameter(const ByteString& frame);
    Answer TakeAddress(const ByteString& frame);
    Answer TakeData(const ByteString& frame);
    Answer TakeReadAddress(const ByteString& frame);
    Answer TakeReadCount(const ByteString& frame);
    Answer Note(RomFrame::Kind kind, const ByteString& frame, bool acknowledged, bool resynchronise = false);
    void Fill(std::uint32_t from, std::uint32_t to, std::uint8_t value);  // then puts the chip ID back
    bool ReachesChipId(std::uint32_t address, std::size_t length) const;
    void PutChipId();

    const RomOptions options_;
    mutable std::mutex mutex_;
    Stage stage_ = Stage::Asleep;
    ByteString pending_;  // bytes of the frame being received
    std::vector<std::uint8_t> memory_;
    std::uint32_t writeAddress_ = 0;
    std::uint32_t readAddress_ = 0;
    int syncAttempts_ = 0;
    int globalErases_ = 0;
    int eepromErases_ = 0;
    int writeCommands_ = 0;
    int addressFrames_ = 0;
    int dataFrames_ = 0;
    bool goReceived_ = false;
    std::vector<RomFrame> log_;
};

}  // namespace veltra::sim
