#pragma once
// A terminal that someone else made (the host side of a virtual machine's
// serial line), opened for the simulated device to play on.
#include <string>

namespace veltra::sim {

// Opens `path` (read and write, never as a controlling terminal) and sets it
// raw at 19200 8N1, with anything left in it from an earlier user thrown
// away. Throws std::runtime_error naming the path and the reason.
int OpenAttachedLine(const std::string& path);

}  // namespace veltra::sim
