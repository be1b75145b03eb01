#include <cinttypes>
#include <cstdio>
#include <optional>
#include <set>

#include "OracleSupport.h"
#include "Oracles.h"
#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/ImageTransfer.h"

namespace veltra::fuzz {
namespace {

using rom::kRecordSize;

// The option bytes live at 0x48xx; every other address written is a record's.
constexpr std::uint32_t kOptionArea = 0x4800;
constexpr std::uint32_t kEepromEnd = rom::kImageBase + (rom::kEepromLastRecord + 1) * kRecordSize;

std::uint8_t Xor(const ByteString& bytes, std::size_t count) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < count; ++i) x = static_cast<std::uint8_t>(x ^ ByteAt(bytes, i));
    return x;
}

bool IsPair(const ByteString& frame) {
    return frame.size() == 2 && ByteAt(frame, 1) == static_cast<std::uint8_t>(~ByteAt(frame, 0));
}

// The record an address belongs to: the EEPROM records from 0x4000, the
// program records from 0x9000 (record 160 on).
std::optional<std::int64_t> RecordAt(std::uint32_t address) {
    if (address % kRecordSize != 0) return std::nullopt;
    if (address >= rom::kImageBase && address < kEepromEnd) {
        return static_cast<std::int64_t>((address - rom::kImageBase) / kRecordSize);
    }
    if (address >= rom::kProgramBase) {
        return rom::kProgramFirstRecord + static_cast<std::int64_t>((address - rom::kProgramBase) / kRecordSize);
    }
    return std::nullopt;
}

// The records the run has to write: those up to the one holding the end of
// the image, from the program area, and the EEPROM ones when EEPROM is checked.
std::set<std::int64_t> RecordsToWrite(std::size_t imageSize, bool eeprom) {
    const std::size_t body = imageSize > rom::kHeaderSize ? imageSize - rom::kHeaderSize : 0;
    const auto last = static_cast<std::int64_t>(body / kRecordSize);
    std::set<std::int64_t> records;
    for (std::int64_t n = 0; n <= last; ++n) {
        if (n >= rom::kProgramFirstRecord || (eeprom && n <= rom::kEepromLastRecord)) records.insert(n);
    }
    return records;
}

class FlashingFrames {
public:
    FlashingFrames(const std::vector<std::uint8_t>& image, bool eeprom, const std::vector<Turn>& turns)
        : image_(image), eeprom_(eeprom), turns_(turns) {}

    // Walks the frames from `first` on, each judged by what must come next.
    void Check(std::size_t first) {
        for (std::size_t i = first; i < turns_.size(); ++i) {
            where_ = "frame " + std::to_string(i);
            const Turn& turn = turns_[i];
            switch (next_) {
                case Next::Command: Command(turn); break;
                case Next::EraseChoice: EraseChoice(turn); break;
                case Next::Address: Address(turn.written); break;
                case Next::Data: Data(turn); break;
            }
        }
        if (next_ != Next::Command) Violation("the run ended inside a write or an erase", turns_);
    }

    const std::set<std::int64_t>& Written() const { return written_; }

private:
    enum class Next { Command, EraseChoice, Address, Data };

    static bool Acknowledged(const Turn& turn) { return !turn.answered.empty() && ByteAt(turn.answered, 0) == kAck; }

    void Command(const Turn& turn) {
        const ByteString& frame = turn.written;
        if (!IsPair(frame)) Violation(where_ + " should be a command: code and complement", turns_);
        switch (ByteAt(frame, 0)) {
            case rom::kEraseMemory:
                eraseAcknowledged_ = Acknowledged(turn);
                next_ = Next::EraseChoice;
                break;
            case rom::kWriteMemory:
                // Nothing may be written over a memory the bootloader did not
                // confirm as erased.
                if (!globalErased_ || (eeprom_ && !eepromErased_)) {
                    Violation(where_ + " writes before an acknowledged erase", turns_);
                }
                next_ = Next::Address;
                break;
            case rom::kGo: break;
            default: Violation(where_ + " has the unknown command code " + Hex(ByteAt(frame, 0)), turns_);
        }
    }

    // The whole memory (0xFF 0x00) or the EEPROM (0xEE 0x11).
    void EraseChoice(const Turn& turn) {
        const ByteString& frame = turn.written;
        if (!IsPair(frame) || (ByteAt(frame, 0) != 0xFF && ByteAt(frame, 0) != 0xEE)) {
            Violation(where_ + " should choose the memory to erase", turns_);
        }
        const bool erased = eraseAcknowledged_ && Acknowledged(turn);
        if (ByteAt(frame, 0) == 0xFF) {
            globalErased_ = erased;
        } else {
            eepromErased_ = erased;
        }
        next_ = Next::Command;
    }

    void Address(const ByteString& frame) {
        if (frame.size() != 5 || Xor(frame, 4) != ByteAt(frame, 4)) {
            Violation(where_ + " should be an address: 4 bytes and their XOR", turns_);
        }
        address_ = 0;
        for (std::size_t i = 0; i < 4; ++i) address_ = (address_ << 8) | ByteAt(frame, i);
        next_ = Next::Data;
    }

    void Data(const Turn& turn) {
        const ByteString& frame = turn.written;
        if (frame.size() < 3 || frame.size() != std::size_t{ByteAt(frame, 0)} + 3u ||
            Xor(frame, frame.size() - 1) != ByteAt(frame, frame.size() - 1)) {
            Violation(where_ + " should be data: count-1, the bytes and their XOR", turns_);
        }
        next_ = Next::Command;
        if ((address_ & 0xFF00u) == kOptionArea) {
            // The run does not examine the answers to the option bytes.
            if (frame.size() != 3) Violation(where_ + " writes an option byte as more than one byte", turns_);
            return;
        }
        const auto record = RecordAt(address_);
        if (!record) {
            char address[16];
            std::snprintf(address, sizeof address, "0x%08" PRIX32, address_);
            Violation(where_ + " writes to " + address + ", no record's address", turns_);
        }
        const std::string name = where_ + " (record " + std::to_string(*record) + ")";
        if (frame.size() != kRecordSize + 2) Violation(name + " is not a whole record", turns_);
        if (!Acknowledged(turn)) {
            Violation(name + " counted as written, but its answer did not begin 0x79", turns_);
        }
        const std::size_t offset = rom::kHeaderSize + static_cast<std::size_t>(*record) * kRecordSize;
        for (std::size_t i = 0; i < kRecordSize; ++i) {
            const std::size_t at = offset + i;
            const std::uint8_t expected = at < image_.size() ? image_[at] : std::uint8_t{0xFF};
            if (ByteAt(frame, 1 + i) != expected) {
                Violation(name + " byte " + std::to_string(i) + " is " + Hex(ByteAt(frame, 1 + i)) +
                              ", the image has " + Hex(expected),
                          turns_);
            }
        }
        if (!written_.insert(*record).second) Violation(name + " was written twice", turns_);
    }

    const std::vector<std::uint8_t>& image_;
    const bool eeprom_;
    const std::vector<Turn>& turns_;
    Next next_ = Next::Command;
    bool eraseAcknowledged_ = false;  // the last Erase Memory command
    bool globalErased_ = false;
    bool eepromErased_ = false;
    std::uint32_t address_ = 0;
    std::string where_;
    std::set<std::int64_t> written_;
};

}  // namespace

void CheckFlashing(const FirmwareFile& image, bool eeprom, const std::string& runLog, int messages,
                   const std::vector<Turn>& turns) {
    const std::string kSucceeded = "-----Succefull------";
    const bool success = runLog.size() >= kSucceeded.size() &&
                         runLog.compare(runLog.size() - kSucceeded.size(), kSucceeded.size(), kSucceeded) == 0;
    if (!image.onDisk) {
        if (!turns.empty()) Violation("a missing image still sent bytes", turns);
        if (success || messages == 0) Violation("a missing image was not refused with a box", turns);
        return;
    }
    if (!success) return;

    const auto first = AfterWakeUp(turns);
    if (!first) Violation("flashing successful without a wake-up answered 0x79", turns);
    FlashingFrames frames(image.bytes, eeprom, turns);
    frames.Check(*first);

    const std::set<std::int64_t> expected = RecordsToWrite(image.bytes.size(), eeprom);
    if (expected.empty()) Violation("flashing successful for an image with nothing to write", turns);
    const auto marker = static_cast<std::size_t>(rom::kProgramOffset);
    if (image.bytes.size() > marker && image.bytes[marker] != rom::kProgramMarker) {
        Violation("flashing successful for an image without the program marker", turns);
    }
    if (frames.Written() != expected) {
        Violation("flashing successful after writing " + std::to_string(frames.Written().size()) + " of the " +
                      std::to_string(expected.size()) + " records",
                  turns);
    }
}

}  // namespace veltra::fuzz
