#include "sim/LoaderDevice.h"

#include <utility>

#include "protocol/Crc8.h"

namespace veltra::sim {
namespace {

constexpr std::uint8_t kWakeUp = 0x7F;
constexpr std::uint8_t kMoreFollows = 0xA5;
constexpr std::uint8_t kClosing = 0xD2;
constexpr std::uint8_t kBlockCommand = 0x70;

// The loader's four-byte answer: the verdict sits in the third byte.
ByteString Answer(std::uint8_t verdict) {
    ByteString answer;
    for (std::uint8_t b : {std::uint8_t{0x55}, kBlockCommand, verdict, std::uint8_t{0x0D}}) AppendByte(answer, b);
    return answer;
}

bool IsGoodFrame(const ByteString& frame) {
    const std::uint8_t marker = ByteAt(frame, 0);
    if (marker != kMoreFollows && marker != kClosing) return false;
    if (ByteAt(frame, 1) != kBlockCommand) return false;
    return Control_summ(frame.substr(0, frame.size() - 1)) == frame;
}

}  // namespace

LoaderDevice::LoaderDevice(LoaderOptions options) : options_(std::move(options)) {}

std::vector<ByteString> LoaderDevice::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

ByteString LoaderDevice::Firmware() const {
    std::lock_guard lock(mutex_);
    return firmware_;
}

int LoaderDevice::HandshakeAttempts() const {
    std::lock_guard lock(mutex_);
    return attempts_;
}

std::vector<bool> LoaderDevice::Accepted() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

Reply LoaderDevice::OnBytes(const ByteString& bytes) {
    std::lock_guard lock(mutex_);
    Reply reply;
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        // Asleep, it listens for the wake-up and for a block frame, which it
        // takes as it would awake (the test block comes without a wake-up);
        // any other byte is noise on the line.
        if (!awake_ && pending_.empty() && b != kWakeUp && b != kMoreFollows && b != kClosing) continue;
        if (!awake_ && pending_.empty() && b == kWakeUp) {
            ++attempts_;
            if (attempts_ >= options_.handshakeAttempt) {
                awake_ = true;
                reply.push_back({options_.handshakeReply, {}});
            } else if (!options_.earlyReply.empty()) {
                reply.push_back({options_.earlyReply, {}});
            }
            continue;
        }
        // A wake-up where a frame would begin is a new download in the same session.
        if (awake_ && pending_.empty() && b == kWakeUp && !options_.wakeOnce) {
            const bool silenced = options_.silentFromBlock > 0 &&
                                  static_cast<int>(frames_.size()) >= options_.silentFromBlock;
            if (!silenced) reply.push_back({options_.handshakeReply, {}});
            continue;
        }
        pending_.push_back(c);
        if (pending_.size() < kFrameSize) continue;
        Reply answer = AnswerFrame(pending_);
        reply.insert(reply.end(), answer.begin(), answer.end());
        pending_.clear();
    }
    return reply;
}

Reply LoaderDevice::AnswerFrame(const ByteString& frame) {
    frames_.push_back(frame);
    const int block = static_cast<int>(frames_.size());

    const bool silent = options_.silentFromBlock > 0 && block >= options_.silentFromBlock;
    const bool garbage = !silent && block == options_.garbageBlock;
    const bool accept = !silent && !garbage && block != options_.refuseBlock && IsGoodFrame(frame);
    accepted_.push_back(accept);
    if (silent) return {};
    if (accept) firmware_ += frame.substr(2, kDataSize);

    const ByteString answer = garbage ? Answer(0x3F) : Answer(accept ? 0x41 : 0x1F);
    if (block != options_.splitBlock) return {{answer, {}}};
    return {{answer.substr(0, 2), {}}, {answer.substr(2), options_.splitPause}};
}

}  // namespace veltra::sim
