#pragma once
// Byte strings written out in tests as lists of byte values.
#include <cstdint>
#include <initializer_list>

#include "serial/ByteString.h"

namespace veltra::testing {

inline ByteString Bytes(std::initializer_list<int> values) {
    ByteString s;
    for (int v : values) AppendByte(s, static_cast<std::uint8_t>(v));
    return s;
}

}  // namespace veltra::testing
