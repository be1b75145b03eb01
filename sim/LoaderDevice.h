#pragma once
// The device's own loader: woken by 0x7F, it answers 0x79; awake or not, it
// takes 67-byte block frames (marker 0xA5 or 0xD2, 0x70, 64 data bytes, CRC-8),
// answering each with four bytes whose third is 0x41 (accepted) or 0x1F
// (refused). The options make it misbehave in the ways the download must survive.
#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

#include "sim/Personality.h"

namespace veltra::sim {

struct LoaderOptions {
    int handshakeAttempt = 1;           // answer the wake-up on this attempt (1-based); each 0x7F received before the handshake is one attempt
    ByteString earlyReply{};            // reply to the attempts before it ("" = silence), e.g. "\x00\x79"
    ByteString handshakeReply{"\x79"};  // the reply that wakes it, e.g. "\x79\x00"
    int refuseBlock = 0;                // 1-based block answered with a refusal (third byte 0x1F); 0 = none
    int splitBlock = 0;                 // block whose reply comes in two pieces (first 2 bytes, then the rest after splitPause)
    std::chrono::milliseconds splitPause{80};
    int silentFromBlock = 0;            // from this block on, no answer at all
    int garbageBlock = 0;               // block answered with garbage (4 bytes whose third byte is neither 0x41 nor 0x1F)
    // Answers the wake-up only once: awake, it takes every byte as part of a
    // frame, a 0x7F too, so stray wake-ups add up to a frame it refuses.
    bool wakeOnce = false;
};

class LoaderDevice : public Personality {
public:
    static constexpr std::size_t kFrameSize = 67;
    static constexpr std::size_t kDataSize = 64;

    explicit LoaderDevice(LoaderOptions options = {});

    std::vector<ByteString> Frames() const;  // every block frame received, in order (67 bytes each)
    ByteString Firmware() const;             // the 64 data bytes of every accepted frame, concatenated in order
    int HandshakeAttempts() const;           // 0x7F bytes seen before it woke
    std::vector<bool> Accepted() const;      // per frame: answered with acceptance

    Reply OnBytes(const ByteString& bytes) override;

private:
    Reply AnswerFrame(const ByteString& frame);  // called with mutex_ held

    const LoaderOptions options_;
    mutable std::mutex mutex_;
    bool awake_ = false;
    int attempts_ = 0;
    ByteString pending_;  // bytes of the frame being received
    std::vector<ByteString> frames_;
    std::vector<bool> accepted_;
    ByteString firmware_;
};

}  // namespace veltra::sim
