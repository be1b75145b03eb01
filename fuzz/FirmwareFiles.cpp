#include "FirmwareFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "rombootloader/ImageTransfer.h"

namespace veltra::fuzz {
namespace {

namespace fs = std::filesystem;

// Distinct, non-blank bytes, so a frame carrying the wrong part of a file or
// leftover bytes shows up.
std::vector<std::uint8_t> Pattern(std::size_t length, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(length);
    std::uint32_t state = seed;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

[[noreturn]] void CannotWrite(const std::string& what) {
    std::fprintf(stderr, "reply_fuzzer: cannot write the firmware files: %s\n", what.c_str());
    std::exit(1);
}

fs::path& Folder() {
    static fs::path folder;
    return folder;
}

void RemoveFolder() {
    std::error_code ignored;
    fs::remove_all(Folder(), ignored);
}

fs::path MakeFolder() {
    std::string name = (fs::temp_directory_path() / "veltra-fuzz-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) CannotWrite(name);
    Folder() = name;
    std::atexit(RemoveFolder);
    return name;
}

FirmwareFile Write(const fs::path& folder, const std::string& name, std::vector<std::uint8_t> bytes) {
    FirmwareFile file{(folder / name).string(), std::move(bytes), true};
    std::ofstream out(file.path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.bytes.data()), static_cast<std::streamsize>(file.bytes.size()));
    out.close();
    if (!out) CannotWrite(file.path);
    return file;
}

FirmwareFile Missing(const fs::path& folder) { return FirmwareFile{(folder / "missing.bin").string(), {}, false}; }

// Header, records 0..161, the last one 40 bytes long: records 160 and 161 go
// to the program area, the first beginning with `marker`.
std::vector<std::uint8_t> ProgramImage(std::uint8_t marker) {
    auto bytes = Pattern(static_cast<std::size_t>(rom::kProgramOffset) + rom::kRecordSize + 40, 0x1234u);
    bytes[static_cast<std::size_t>(rom::kProgramOffset)] = marker;
    return bytes;
}

// Header, the eight EEPROM records and 50 bytes of a ninth, which no run
// writes: the image ends before the program area.
std::vector<std::uint8_t> EepromImage() {
    return Pattern(rom::kHeaderSize + rom::kRecordSize * (rom::kEepromLastRecord + 1) + 50, 0x53u);
}

FirmwareFiles WriteAll() {
    const fs::path folder = MakeFolder();
    FirmwareFiles files;
    files.download = {Write(folder, "empty.bin", {}), Write(folder, "whole-block.bin", Pattern(64, 0x51u)),
                      Write(folder, "short-end.bin", Pattern(150, 0x52u)), Missing(folder)};
    files.flashing = {Write(folder, "program.img", ProgramImage(rom::kProgramMarker)),
                      Write(folder, "eeprom.img", EepromImage()),
                      Write(folder, "bad-marker.img", ProgramImage(0x00)), Missing(folder)};
    return files;
}

}  // namespace

FirmwareChoice FirmwareFile::Choice() const {
    const auto slash = path.rfind('/');
    return FirmwareChoice{path, path.substr(0, slash + 1), static_cast<std::int64_t>(bytes.size())};
}

const FirmwareFiles& TheFirmwareFiles() {
    static const FirmwareFiles files = WriteAll();
    return files;
}

}  // namespace veltra::fuzz
