#pragma once
// The progress line of a download on a terminal: bar, percent, bytes of the
// total, rate and time left, in at most 79 columns for files up to 99 MB.
#include <chrono>
#include <cstdint>
#include <string>

namespace veltra::terminal {

// `done` of `total` bytes after `elapsed` of sending. The rate and the time
// left read "--" until there is a first measure of the rate.
std::string ProgressLine(std::int64_t done, std::int64_t total, std::chrono::duration<double> elapsed);

// The same bar for the records of a ROM bootloader run: "N of M records
// <what>" and the time left, "--:--" while it is not known (negative).
std::string RecordsLine(std::int64_t done, std::int64_t total, const std::string& what, double secondsLeft);

}  // namespace veltra::terminal
