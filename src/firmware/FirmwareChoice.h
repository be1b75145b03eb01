#pragma once
// The firmware file the operator chose: kept by the window for the whole run and
// read by the download, the flashing and the conversion, which each open the
// file by its path when they run.
#include <cstdint>
#include <string>

namespace veltra {

struct FirmwareChoice {
    std::string path;         // full path as the dialog returned it; empty until a choice
    std::string folder;       // leading part of path up to and including its last separator
    std::int64_t length = 0;  // bytes, at the moment of choice

    bool Chosen() const { return !path.empty(); }
};

}  // namespace veltra
