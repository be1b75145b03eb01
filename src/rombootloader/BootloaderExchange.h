#pragma once
// One step of talking to the ROM bootloader: a frame out, its answer byte in.
// The bootloader answers every command and frame with one byte, 0x79 or 0x1F,
// so the wait ends with that byte; each kind of step bounds the silence of a
// bootloader that does not answer by a ceiling of its own.
#include <chrono>
#include <cstdint>
#include <optional>

#include "serial/ByteString.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

enum class Step {
    Command,  // a command code and its complement
    Address,  // an address frame
    Write,    // a data frame: the block is programmed before the answer
    Erase,    // the erase's choice of memory: the erase runs before the answer
    Go,       // the jump: nobody examines its answer
};

// The longest each kind of step waits for its answer. Only a bootloader that
// will not answer ever waits this long; silence up to the ceiling is no
// acknowledgement.
//   Command, Address  1 s: answered as soon as the frame's last byte is in; the
//                     rest is room for an adapter's latency and a busy machine
//   Write             1 s: a 128-byte block is programmed in a few
//                     milliseconds, and its frame takes 0.14 s even at 9600 baud
//   Erase             10 s: a whole memory takes seconds to erase (3.3 s has
//                     been measured for 128 KiB)
//   Go                0.5 s: the run goes on whatever comes back, but the
//                     bootloader should have taken the command before the
//                     port is let go
std::chrono::milliseconds CeilingOf(Step step);

// How long the bytes Read Memory hands back may take: 256 of them at 9600 baud
// are 0.27 s.
inline constexpr std::chrono::milliseconds kReadCeiling{1000};

inline constexpr std::uint8_t kNoAnswer = 0xFF;

// Sends `frame` (kept in `wrs`, the run's request buffer) after dropping what
// arrived unread before it, so that a late or stray byte can answer no frame
// sent after it; reading the answer is the caller's. False when the port is
// lost: nothing can answer.
bool PutFrame(SerialPort& port, ByteString& wrs, ByteString frame);

// Sends `frame` (kept in `wrs`, the run's request buffer) and returns the
// bootloader's answer byte, kNoAnswer after silence up to the step's ceiling
// or when the port is lost. What arrived unread before the frame went out is
// dropped first (PutFrame).
std::uint8_t SendFrame(SerialPort& port, ByteString& wrs, ByteString frame, Step step);

// Read Memory: `length` (1 to 256) bytes from `address`. Nothing when the
// bootloader refused a step, stayed silent, or handed back fewer bytes.
std::optional<ByteString> ReadMemory(SerialPort& port, ByteString& wrs, std::uint32_t address, std::size_t length);

}  // namespace veltra::rom
