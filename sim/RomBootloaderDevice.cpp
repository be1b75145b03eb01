#include "sim/RomBootloaderDevice.h"

#include <algorithm>
#include <iterator>
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
constexpr std::uint8_t kReadMemory = 0x11;
constexpr std::uint8_t kGet = 0x00;

std::uint8_t Xor(const ByteString& bytes, std::size_t from, std::size_t to) {
    std::uint8_t x = 0;
    for (std::size_t i = from; i < to; ++i) x = static_cast<std::uint8_t>(x ^ ByteAt(bytes, i));
    return x;
}

// An address frame's 4 bytes, MSB first.
std::uint32_t AddressOf(const ByteString& frame) {
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < 4; ++i) address = (address << 8) | ByteAt(frame, i);
    return address;
}

// An address frame with its checksum right, for an address inside the modelled memory.
bool Inside(const ByteString& frame, std::uint32_t address) {
    return Xor(frame, 0, 4) == ByteAt(frame, 4) && address >= RomBootloaderDevice::kMemoryStart &&
           address < RomBootloaderDevice::kMemoryEnd;
}

// The answer of one frame goes with the answers before it in this arrival,
// unless the chip works first: then it is a piece of its own after that pause.
void Add(Reply& reply, const ByteString& bytes, std::chrono::milliseconds pause) {
    if (bytes.empty()) return;  // silence is no piece at all
    if (reply.empty() || pause > std::chrono::milliseconds::zero()) {
        reply.push_back({bytes, pause});
    } else {
        reply.back().bytes += bytes;
    }
}

}  // namespace

ByteString DefaultChipId() {
    // x 23, y 66, wafer 9, lot "VT48305"
    return ByteString("\x00\x17\x00\x42\x09" "VT48305", 12);
}

ByteString RomBootloaderDevice::CalibrationPattern() {
    ByteString pattern;
    for (std::uint32_t i = 0; i < kCalibrationEnd - kCalibrationStart; ++i) {
        auto b = static_cast<std::uint8_t>(i * 29 + i / 256 + 0x11);
        if (b == kFactoryByte || b == 0x00 || b == 0xFF) b = static_cast<std::uint8_t>(b ^ 0x81);
        AppendByte(pattern, b);
    }
    return pattern;
}

RomBootloaderDevice::RomBootloaderDevice(RomOptions options)
    : options_(std::move(options)), memory_(kMemoryEnd - kMemoryStart, kFactoryByte) {
    const std::size_t idLength = options_.chipId.size();
    if (idLength == 0 || idLength > 256 || options_.chipIdAt < kMemoryStart ||
        options_.chipIdAt > kMemoryEnd - idLength) {
        throw std::invalid_argument("the chip ID must be 1 to 256 bytes inside the modelled memory 0x04000..0x27FFF");
    }
    if (options_.calibration.size() > kCalibrationEnd - kCalibrationStart) {
        throw std::invalid_argument("the calibration must fit 0x04000..0x043FF");
    }
    std::copy(options_.calibration.begin(), options_.calibration.end(), memory_.begin());
    PutChipId();
}

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
    Reply reply;
    for (char c : bytes) {
        if (stage_ == Stage::Hung || stage_ == Stage::AfterGo) break;
        if (stage_ == Stage::Asleep) {
            if (static_cast<std::uint8_t>(c) != kSync) continue;
            ++syncAttempts_;
            const bool synchronised = syncAttempts_ >= options_.syncAttempt;
            Add(reply, synchronised ? options_.syncReply : options_.earlyReply, {});
            if (synchronised) stage_ = options_.silentAfterSync ? Stage::Hung : Stage::Command;
            continue;
        }
        pending_.push_back(c);
        if (pending_.size() < FrameLength()) continue;
        const ByteString frame = std::move(pending_);
        pending_.clear();
        const Answer answer = TakeFrame(frame);
        Add(reply, answer.bytes, answer.pause);
        if (answer.resynchronise) {
            stage_ = Stage::Command;
            break;
        }
    }
    return reply;
}

std::size_t RomBootloaderDevice::FrameLength() const {
    switch (stage_) {
        case Stage::WriteAddress:
        case Stage::ReadAddress: return 5;
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
        case Stage::ReadAddress: return TakeReadAddress(frame);
        case Stage::ReadCount: return TakeReadCount(frame);
        default: return TakeCommand(frame);
    }
}

RomBootloaderDevice::Answer RomBootloaderDevice::Note(RomFrame::Kind kind, const ByteString& frame, bool acknowledged,
                                                      bool resynchronise) {
    std::uint32_t address = 0;
    if (kind == RomFrame::Kind::Address || kind == RomFrame::Kind::Data) address = writeAddress_;
    if (kind == RomFrame::Kind::ReadAddress || kind == RomFrame::Kind::ReadCount) address = readAddress_;
    log_.push_back({kind, frame, acknowledged, address});
    return {ByteString(1, static_cast<char>(acknowledged ? kAck : kNack)), resynchronise};
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
        case kReadMemory:
            // A protected part hands nothing out, and says so at once.
            if (options_.readProtected) return Note(RomFrame::Kind::Command, frame, false, true);
            stage_ = Stage::ReadAddress;
            return Note(RomFrame::Kind::Command, frame, true);
        case kGet:
            return TakeGet(frame);
        case kGo:
            stage_ = Stage::AfterGo;  // the jump waits for an address that never comes
            goReceived_ = true;
            return Note(RomFrame::Kind::Command, frame, true);
        default:
            return Note(RomFrame::Kind::Command, frame, false, true);
    }
}

// Acknowledged, then in the same breath: how many bytes follow less one, the
// version, the command codes, and a closing acknowledgement.
RomBootloaderDevice::Answer RomBootloaderDevice::TakeGet(const ByteString& frame) {
    Answer answer = Note(RomFrame::Kind::Command, frame, true);
    AppendByte(answer.bytes, static_cast<std::uint8_t>(std::size(kCommands)));
    AppendByte(answer.bytes, kVersion);
    for (std::uint8_t code : kCommands) AppendByte(answer.bytes, code);
    AppendByte(answer.bytes, kAck);
    return answer;
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeEraseParameter(const ByteString& frame) {
    if (options_.refuseEraseParameter) return Note(RomFrame::Kind::EraseParameter, frame, false, true);
    if (frame == ByteString("\xFF\x00", 2)) {
        // The whole chip: the data EEPROM goes with the program and the options.
        Fill(kProgramStart, kMemoryEnd, 0x00);
        Fill(kOptionStart, kOptionEnd, 0x00);
        Fill(kEepromStart, kEepromEnd, 0x00);
        ++globalErases_;
    } else if (frame == ByteString("\xEE\x11", 2)) {
        Fill(kEepromStart, kEepromEnd, 0x00);
        ++eepromErases_;
    } else {
        return Note(RomFrame::Kind::EraseParameter, frame, false, true);
    }
    stage_ = Stage::Command;
    Answer answer = Note(RomFrame::Kind::EraseParameter, frame, true);
    answer.pause = options_.eraseTime;
    return answer;
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeAddress(const ByteString& frame) {
    ++addressFrames_;
    writeAddress_ = AddressOf(frame);
    if (!Inside(frame, writeAddress_)) return Note(RomFrame::Kind::Address, frame, false, true);
    stage_ = Stage::WriteData;
    return Note(RomFrame::Kind::Address, frame, addressFrames_ != options_.refuseAddressFrame);
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeData(const ByteString& frame) {
    ++dataFrames_;
    const std::size_t length = frame.size() - 2;
    const bool good = Xor(frame, 0, frame.size() - 1) == ByteAt(frame, frame.size() - 1) &&
                      length <= kMemoryEnd - writeAddress_;
    if (!good || dataFrames_ == options_.refuseDataFrame || writeAddress_ == options_.refuseWriteAt ||
        ReachesChipId(writeAddress_, length)) {
        return Note(RomFrame::Kind::Data, frame, false, true);
    }
    const auto at = memory_.begin() + (writeAddress_ - kMemoryStart);
    std::copy(frame.begin() + 1, frame.end() - 1, at);
    if (writeAddress_ == options_.corruptWriteAt) *at = static_cast<std::uint8_t>(~*at);
    stage_ = Stage::Command;
    Answer answer = Note(RomFrame::Kind::Data, frame, true);
    answer.pause = options_.programTime;
    return answer;
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeReadAddress(const ByteString& frame) {
    readAddress_ = AddressOf(frame);
    if (!Inside(frame, readAddress_)) return Note(RomFrame::Kind::ReadAddress, frame, false, true);
    stage_ = Stage::ReadCount;
    return Note(RomFrame::Kind::ReadAddress, frame, true);
}

RomBootloaderDevice::Answer RomBootloaderDevice::TakeReadCount(const ByteString& frame) {
    const std::size_t count = std::size_t{ByteAt(frame, 0)} + 1;
    const bool good = (ByteAt(frame, 0) ^ ByteAt(frame, 1)) == 0xFF && count <= kMemoryEnd - readAddress_;
    if (!good) return Note(RomFrame::Kind::ReadCount, frame, false, true);
    stage_ = Stage::Command;
    Answer answer = Note(RomFrame::Kind::ReadCount, frame, true);
    const auto from = memory_.begin() + (readAddress_ - kMemoryStart);
    answer.bytes.append(from, from + static_cast<std::ptrdiff_t>(count));
    return answer;
}

void RomBootloaderDevice::Fill(std::uint32_t from, std::uint32_t to, std::uint8_t value) {
    std::fill(memory_.begin() + (from - kMemoryStart), memory_.begin() + (to - kMemoryStart), value);
    PutChipId();
}

// The ID sits in ROM, where nothing can be programmed: a data frame that
// reaches into it is refused whole.
bool RomBootloaderDevice::ReachesChipId(std::uint32_t address, std::size_t length) const {
    return address < options_.chipIdAt + options_.chipId.size() && options_.chipIdAt < address + length;
}

void RomBootloaderDevice::PutChipId() {
    std::copy(options_.chipId.begin(), options_.chipId.end(), memory_.begin() + (options_.chipIdAt - kMemoryStart));
}

}  // namespace veltra::sim
