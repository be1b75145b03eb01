#pragma once
// The one exchange through which a request is sent and its reply collected:
// the request is written, the reply gathered over at most eight reads and
// judged by its third byte (0x41 accepted, 0x1F refused).
#include <chrono>
#include <cstdint>

#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra {

inline constexpr std::uint8_t kAccepted = 0x41;   // 'A' in the reply's third byte
inline constexpr std::uint8_t kRefused = 0x1F;
inline constexpr std::uint8_t kNoStatus = 0xFF;

// A short rest before each request, so that a device that has just answered the
// previous one is listening again when the next request starts.
inline constexpr std::chrono::milliseconds kPauseBeforeRequest{1};
// A short rest after each exchange, so that the device has finished with the
// request before the caller moves on (or closes the port).
inline constexpr std::chrono::milliseconds kPauseAfterReply{2};

inline constexpr int kMaxReplyReads = 8;

struct ExchangeResult {
    std::uint8_t status = kNoStatus;  // 0x41 when the reply's third byte was 0x41, else 0xFF
    std::uint8_t answer = kNoStatus;  // first byte of the reply; 0xFF when it stayed empty
};

ExchangeResult wrstr(SerialPort& port, Operator& op, const ByteString& sstr);

}  // namespace veltra
