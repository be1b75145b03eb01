#include "firmware/FillerSource.h"

#include <bit>
#include <cfloat>

namespace veltra {
namespace {

// The rounding below relies on each operation rounding to a double, with no
// wider intermediate (as x87 code would keep).
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must round to double at each step");

// A double from 2^52 to 2^53 has no fraction bits, so adding 2^52 to a value
// from 0 to 2^52 rounds it to a whole number, in the default rounding mode: to
// nearest, halves to even, as std::lrint would. The sum's low mantissa bits
// are then that whole number. One addition, where std::lrint is a call into
// the maths library (it may set errno), and a blank block needs 64 of them.
constexpr double kNoFractionBits = 0x1.0p52;

}  // namespace

double FillerSource::NextUnit() {
    state_ += 0x9E3779B97F4A7C15u;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    // The top 53 bits fill a double's mantissa exactly, so the result never
    // rounds up to 1.
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

std::uint8_t FillerSource::NextFiller() { return FillerFromUnit(NextUnit()); }

void FillerSource::Fill(std::span<std::uint8_t> bytes) {
    for (auto& b : bytes) b = NextFiller();
}

std::uint8_t FillerFromUnit(double unit) {
    return static_cast<std::uint8_t>(std::bit_cast<std::uint64_t>(unit * 255.0 + kNoFractionBits));
}

}  // namespace veltra
