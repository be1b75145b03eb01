#pragma once
// The filler bytes of the scrambled file: a pseudo-random sequence that is never
// seeded. Every run of the program starts the same sequence; each conversion
// continues where the previous one of the same run stopped, so the window keeps
// one source for the whole run.
#include <cstdint>
#include <span>

namespace veltra {

class FillerSource {
public:
    double NextUnit();          // next value in [0, 1)
    std::uint8_t NextFiller();  // FillerFromUnit(NextUnit())
    // NextFiller() for each byte, in ascending position.
    void Fill(std::span<std::uint8_t> bytes);

private:
    // A 64-bit counter stirred by a mixing function: cheap enough for blank
    // blocks, which draw 64 values each. It starts at 0 in every run, on purpose.
    std::uint64_t state_ = 0;
};

// A unit value from 0 to 1 times 255, rounded to the nearest whole number, a
// value exactly halfway going to the even neighbour: std::lrint in the default
// rounding mode, which this program never changes.
std::uint8_t FillerFromUnit(double unit);

}  // namespace veltra
