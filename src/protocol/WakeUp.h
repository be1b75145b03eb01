#pragma once
// Waking a loader on the line: the byte 0x7F, again and again, until a reply
// begins with 0x79. Both the device's own loader and the microcontroller's ROM
// bootloader are woken this way.
#include <chrono>

#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra {

inline constexpr std::uint8_t kWakeByte = 0x7F;
inline constexpr std::uint8_t kAck = 0x79;

// How long to try before asking the operator whether to keep waiting.
inline constexpr std::chrono::milliseconds kWakePatience{30000};

enum class WakeResult {
    Awake,        // a reply began with 0x79
    Cancelled,    // the operator gave up waiting
    WriteFailed,  // the port no longer takes bytes ("Com port write error" shown)
};

enum class ProbeResult {
    Answered,     // the reply began with 0x79
    Unanswered,   // silence, or a reply that began with anything else
    WriteFailed,  // the port no longer takes bytes ("Com port write error" shown)
};

// One attempt: 0x7F, then one read. An unanswered attempt lasts the read's
// whole timeout, so attempts in a row cannot spin the processor.
ProbeResult ProbeLoader(SerialPort& port, Operator& op, ByteString& wrs);

// Attempts until one is answered. The wait is measured on a clock, not in
// attempts: when the patience has passed the operator is asked whether to
// keep waiting, and the patience starts again.
WakeResult WakeLoader(SerialPort& port, Operator& op, ByteString& wrs,
                      std::chrono::milliseconds patience = kWakePatience);

}  // namespace veltra
