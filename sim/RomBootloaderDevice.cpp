#include "sim/RomBootloaderDevice.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace veltra::sim {
namespace {

constexpr std::uint8_t kSync = 0x7F;
constexpr std::uint8_t kAck = 0x79;
constexpr std::uint8_t kNack = 0x1F;
constexpr std::uint8_t kErase = 0x43;
constexpr std::uint8_t kWriteMemory = 0x31;
constexpr std::uint8_t kGo = 0x21;

std::uint8_t Xor(const ByteString& bytes, std::size_t from, std::size_t to) {
    std::uint8_t x = 0;
    for (std::size_t i = from; i < to; ++i) x = static_cast<std::uint8_t>(x ^ ByteAt(bytes, i));
    return x;
}

}  // namespace

RomBootloaderDevice::RomBootloaderDevice(RomOptions options)
    : options_(std::move(options)), memory_(kMemoryEnd - kMemoryStart, kFactoryByte) {}

ByteString RomBootloaderDevice::Memory(std::uint32_t address, std::size_t length) const {
    if (address < kMemoryStart || address > kMemoryEnd || length > kMemoryEnd - address) {
        throw std::out_of_range("outside the modelled memory");
    }
    std::lock_guard lock(mutex_);
    const auto begin = memory_.begin() + (address - kMemoryStart);
    return ByteString(begin, begin + static_cast<std::ptrdiff_t>(length));
}

int RomBootloaderDevice::SyncAttempts() const {
    std::lock_guard lock(mutex_);
    return syncAttempts_;
}

int RomBootloaderDevice::GlobalErases() const {
    std::lock_guard lock(mutex_);
    return globalErases_;
}

int RomBootloaderDevice::EepromErases() const {
    std::lock_guard lock(mutex_);
    return eepromErases_;
}

std::vector<ByteString> RomBootloaderDevice::Frames() const {
    std::lock_guard lock(mutex_);
    std::vector<ByteString> frames;
    for (const RomFrame& frame : log_) frames.push_back(frame.bytes);
    return frames;
}

std::vector<RomFrame> RomBootloaderDevice::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

bool RomBootloaderDevice::GoReceived() const {
    std::lock_guard lock(mutex_);
    return goReceived_;
}

Reply RomBootloaderDevice::OnBytes(const ByteString& bytes) {
    std::lock_guard lock(mutex_);
    ByteString out;
    for (char c : bytes) {
        if (stage_ == Stage::Hung || stage_ == Stage::AfterGo) break;
        if (stage_ == Stage::Asleep) {
            if (static_cast<std::uint8_t>(c) != kSync) continue;
            ++syncAttempts_;
            if (syncAttempts_ >= options_.syncAttempt) {
                out += options_.syncReply;
                stage_ = options_.silentAfterSync ? Stage::Hung : Stage::Command;
            } else {
                out += options_.earlyReply;
            }
            continue;
        }
        pending_.push_back(c);
        if (pending_.size() < FrameLength()) continue;
        const ByteString frame = std::move(pending_);
        pending_.clear();
        const Answer answer = TakeFrame(frame);
        AppendByte(out, answer.byte);
        if (answer.resynchronise) {
            stage_ = Stage::Command;
            break;
        }
    }
    if (out.empty()) return {};
    return {{out, {}}};
}

std::size_t RomBootloaderDevice::FrameLength() const {
    switch (stage_) {
        case Stage::WriteAddress: return 5;
        // N, then N + 1 bytes, then the checksum.
        case Stage::WriteData: return pending_.empty() ? 1 : std::size_t{ByteAt(pending_, 0)} + 3;
        default: return 2;
    }
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeFrame(const ByteString& frame) {
    switch (stage_) {
        case Stage::EraseParameter: return TakeEraseParameter(frame);
        case Stage::WriteAddress: return TakeAddress(frame);
        case Stage::WriteData: return TakeData(frame);
        default: return TakeCommand(frame);
    }
}

RomBootloaderDevice::Answer RomBootloaderDevice::Note(RomFrame::Kind kind, const ByteString& frame, bool acknowledged,
                                                      bool resynchronise) {
    const std::uint32_t address = kind == RomFrame::Kind::Address || kind == RomFrame::Kind::Data ? writeAddress_ : 0;
    log_.push_back({kind, frame, acknowledged, address});
    return {acknowledged ? kAck : kNack, resynchronise};
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeCommand(const ByteString& frame) {
    const std::uint8_t code = ByteAt(frame, 0);
    if ((code ^ ByteAt(frame, 1)) != 0xFF) return Note(RomFrame::Kind::Command, frame, false, true);
    switch (code) {
        case kErase:
            if (options_.refuseEraseCommand) return Note(RomFrame::Kind::Command, frame, false, true);
            stage_ = Stage::EraseParameter;
            return Note(RomFrame::Kind::Command, frame, true);
        case kWriteMemory:
            stage_ = Stage::WriteAddress;
            return Note(RomFrame::Kind::Command, frame, ++writeCommands_ != options_.refuseWriteCommand);
        case kGo:
            stage_ = Stage::AfterGo;  // the jump waits for an address that never comes
            goReceived_ = true;
            return Note(RomFrame::Kind::Command, frame, true);
        default:
            return Note(RomFrame::Kind::Command, frame, false, true);
    }
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeEraseParameter(const ByteString& frame) {
    if (options_.refuseEraseParameter) return Note(RomFrame::Kind::EraseParameter, frame, false, true);
    if (frame == ByteString("\xFF\x00", 2)) {
        Fill(kProgramStart, kMemoryEnd, 0x00);
        Fill(kOptionStart, kOptionEnd, 0x00);
        ++globalErases_;
    } else if (frame == ByteString("\xEE\x11", 2)) {
        Fill(kEepromStart, kEepromEnd, 0x00);
        ++eepromErases_;
    } else {
        return Note(RomFrame::Kind::EraseParameter, frame, false, true);
    }
    stage_ = Stage::Command;
    return Note(RomFrame::Kind::EraseParameter, frame, true);
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeAddress(const ByteString& frame) {
    ++addressFrames_;
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < 4; ++i) address = (address << 8) | ByteAt(frame, i);
    writeAddress_ = address;
    if (Xor(frame, 0, 4) != ByteAt(frame, 4) || address < kMemoryStart || address >= kMemoryEnd) {
        return Note(RomFrame::Kind::Address, frame, false, true);
    }
    stage_ = Stage::WriteData;
    return Note(RomFrame::Kind::Address, frame, addressFrames_ != options_.refuseAddressFrame);
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeData(const ByteString& frame) {
    ++dataFrames_;
    const std::size_t length = frame.size() - 2;
    const bool good = Xor(frame, 0, frame.size() - 1) == ByteAt(frame, frame.size() - 1) &&
                      length <= kMemoryEnd - writeAddress_;
    if (!good || dataFrames_ == options_.refuseDataFrame) return Note(RomFrame::Kind::Data, frame, false, true);
    std::copy(frame.begin() + 1, frame.end() - 1, memory_.begin() + (writeAddress_ - kMemoryStart));
    stage_ = Stage::Command;
    return Note(RomFrame::Kind::Data, frame, true);
}

void RomBootloaderDevice::Fill(std::uint32_t from, std::uint32_t to, std::uint8_t value) {
    std::fill(memory_.begin() + (from - kMemoryStart), memory_.begin() + (to - kMemoryStart), value);
}

}  // namespace veltra::sim
