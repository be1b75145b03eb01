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

}  // namespace veltra::terminal
