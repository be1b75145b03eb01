#include "firmware/FillerSource.h"

#include <algorithm>
#include <cmath>

namespace veltra {

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
    // lrint rounds in the current rounding mode, which this program leaves at
    // its default, to nearest with halves to even; one instruction, where the
    // filler of a blank block needs 64 of them.
    return static_cast<std::uint8_t>(std::clamp(std::lrint(unit * 255.0), 0L, 255L));
}

}  // namespace veltra
