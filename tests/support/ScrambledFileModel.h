#pragma once
// The scrambled firmware file as its format describes it, built independently
// of the conversion, for the tests of the conversion on every platform.
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>

#include "firmware/FillerSource.h"
#include "firmware/ScrambleKey.h"
#include "serial/ByteString.h"

namespace veltra::testing {

// One data block for every 64-byte read of the input, the last read finding
// fewer than 64 bytes (nothing, for an input of whole blocks); positions past
// the input's end count as 0xFF. Calls `each(block, outputOffset)` in order.
template <typename Each>
void ForEachModelBlock(const ByteString& input, Each each) {
    std::size_t outputOffset = kScrambleBlockSize;
    for (std::size_t start = 0; start <= input.size(); start += kScrambleBlockSize) {
        ByteString block = input.substr(start, kScrambleBlockSize);
        block.resize(kScrambleBlockSize, '\xFF');
        each(block, outputOffset);
        outputOffset += kScrambleBlockSize;
    }
}

inline bool IsBlank(const ByteString& block) { return block == ByteString(kScrambleBlockSize, '\xFF'); }

// The whole expected file: filler drawn for header bytes 1..15, then 23..63,
// then each blank block in order; `ob1to4` are the option values of the boxes
// ob1..ob4, which the header holds in the order ob1, ob4, ob2, ob3.
inline ByteString ExpectedScrambledFile(const ByteString& input, const std::array<std::uint8_t, 4>& ob1to4,
                                        FillerSource& filler) {
    const auto& key = ScrambleKey();
    ByteString out;
    AppendByte(out, 0x01);
    for (int i = 1; i < 16; ++i) AppendByte(out, filler.NextFiller());
    for (int i = 16; i < 19; ++i) AppendByte(out, key[0]);
    for (std::size_t box : {0u, 3u, 1u, 2u}) AppendByte(out, static_cast<std::uint8_t>(ob1to4[box] ^ key[0]));
    for (int i = 23; i < 64; ++i) AppendByte(out, filler.NextFiller());
    ForEachModelBlock(input, [&](const ByteString& block, std::size_t) {
        const bool blank = IsBlank(block);
        for (std::size_t i = 0; i < kScrambleBlockSize; ++i) {
            AppendByte(out, blank ? filler.NextFiller() : static_cast<std::uint8_t>(ByteAt(block, i) ^ key[i]));
        }
    });
    return out;
}

// Offsets of the output that hold filler for this input.
inline std::set<std::size_t> FillerOffsets(const ByteString& input) {
    std::set<std::size_t> offsets;
    for (std::size_t i = 1; i < 16; ++i) offsets.insert(i);
    for (std::size_t i = 23; i < 64; ++i) offsets.insert(i);
    ForEachModelBlock(input, [&](const ByteString& block, std::size_t outputOffset) {
        if (!IsBlank(block)) return;
        for (std::size_t i = 0; i < kScrambleBlockSize; ++i) offsets.insert(outputOffset + i);
    });
    return offsets;
}

}  // namespace veltra::testing
