#pragma once
// The firmware files the fuzz runs load, written once into a folder of their
// own when the fuzzer starts and removed when it ends. The oracles compare
// every frame with the bytes kept here.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/FirmwareChoice.h"

namespace veltra::fuzz {

struct FirmwareFile {
    std::string path;
    std::vector<std::uint8_t> bytes;
    bool onDisk = true;  // false: the path names no file, the operation must refuse it

    FirmwareChoice Choice() const;
};

// Four files for each operation; the input's selector picks one.
struct FirmwareFiles {
    // 0, 64 and 150 bytes (one closing block from an empty read, a length that
    // is a multiple of 64, a short closing block), and a missing file.
    std::array<FirmwareFile, 4> download;
    // An image with two program records (the marker 0x23 at record 160), an
    // image that ends before the program area (only its EEPROM records can be
    // written), the first image with a wrong marker, and a missing file.
    std::array<FirmwareFile, 4> flashing;
};

// Writes the files on the first call; exits the fuzzer when it cannot.
const FirmwareFiles& TheFirmwareFiles();

}  // namespace veltra::fuzz
