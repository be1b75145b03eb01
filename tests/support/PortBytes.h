#pragma once
// Byte strings for port tests, and reading a known number of bytes back.
#include <cstddef>
#include <cstdint>

#include "serial/ByteString.h"
#include "serial/SerialPort.h"

namespace veltra::testing {

// 0x00 to 0xFF, once each: no byte value may be altered by the line.
inline ByteString EveryByteValue() {
    ByteString all;
    for (int v = 0; v < 256; ++v) AppendByte(all, static_cast<std::uint8_t>(v));
    return all;
}

// Reads until `count` bytes are in; the number of reads only bounds the wait.
inline ByteString ReadBack(SerialPort& port, std::size_t count, int reads = 20) {
    ByteString got;
    for (int read = 0; read < reads && got.size() < count; ++read) got += port.ReadPort();
    return got;
}

}  // namespace veltra::testing
