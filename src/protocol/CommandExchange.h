#pragma once
// The one exchange through which a request is sent and its reply collected:
// the request is written, the reply gathered over at most eight reads and
// judged by its third byte (0x41 accepted, 0x1F refused).
//
// There is no rest before a request or after a reply: a read ends only once
// the line has stayed silent for the read's interval, so when an exchange
// ends the device has finished answering and listens again, and the next
// request can go out at once.
#include <cstdint>
#include <functional>

#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra {

inline constexpr std::uint8_t kAccepted = 0x41;   // 'A' in the reply's third byte
inline constexpr std::uint8_t kRefused = 0x1F;
inline constexpr std::uint8_t kNoStatus = 0xFF;

inline constexpr int kMaxReplyReads = 8;

struct ExchangeResult {
    std::uint8_t status = kNoStatus;  // 0x41 when the reply's third byte was 0x41, else 0xFF
    std::uint8_t answer = kNoStatus;  // first byte of the reply; 0xFF when it stayed empty
};

// `whileOnLine`, when given, runs once the request is written and before the
// first read: work for the operator that then overlaps the time the request
// and its reply take on the line, instead of adding to it.
// A port that is lost on the way ends the exchange at once, with no status.
ExchangeResult wrstr(SerialPort& port, Operator& op, const ByteString& sstr,
                     const std::function<void()>& whileOnLine = {});

}  // namespace veltra
