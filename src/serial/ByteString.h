#pragma once
// A byte string: one char per byte, every value 0x00..0xFF allowed (NUL included).
// Frames, requests and replies of every protocol of the tool are held this way.
#include <cstddef>
#include <cstdint>
#include <string>

namespace veltra {

using ByteString = std::string;

// The byte at index i as an unsigned value (plain char may be signed).
inline std::uint8_t ByteAt(const ByteString& s, std::size_t i) {
    return static_cast<std::uint8_t>(s[i]);
}

inline void AppendByte(ByteString& s, std::uint8_t b) {
    s.push_back(static_cast<char>(b));
}

}  // namespace veltra
