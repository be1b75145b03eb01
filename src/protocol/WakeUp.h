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
    PortLost,     // the device behind the port has gone (the port said so)
};

enum class ProbeResult {
    Answered,     // the reply began with 0x79
    OtherReply,   // something answered, but the reply began with another byte
    Silence,      // nothing came back
    WriteFailed,  // the port no longer takes bytes ("Com port write error" shown)
    PortLost,     // the device behind the port has gone (the port said so)
};

// One attempt: `count` wake-up bytes in one write (one, to wake a loader),
// then one read. An attempt that finds silence lasts the read's whole timeout,
// so attempts in a row cannot spin the processor.
ProbeResult ProbeLoader(SerialPort& port, Operator& op, ByteString& wrs, std::size_t count = 1);

// Attempts until one is answered. The wait is measured on a clock, not in
// attempts: when the patience has passed the operator is asked whether to
// keep waiting, and the patience starts again.
WakeResult WakeLoader(SerialPort& port, Operator& op, ByteString& wrs,
                      std::chrono::milliseconds patience = kWakePatience);

}  // namespace veltra
