#pragma once
// The firmware file as one operation sees it: read whole, once, before the
// operation sends or writes anything. Every frame, marker and padding byte of
// the operation comes from this one image, so a file changed on disk while the
// operation runs cannot change what it sends.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "firmware/FileBytes.h"
#include "serial/Operator.h"

namespace veltra {

// The device's images are kilobytes; the bound only keeps a wrong choice (a
// disk image, say) from filling the memory.
inline constexpr std::int64_t kMaxFirmwareBytes = std::int64_t{256} << 20;

struct FirmwareImage {
    platform::FileBytes bytes;

    std::size_t Size() const { return bytes.size(); }
    // Copies the image from `offset` into `record`; positions past the end of
    // the image hold 0xFF, the erased value of flash. Returns how many bytes
    // came from the image: fewer than the record's size at its end.
    std::size_t CopyRecord(std::size_t offset, std::span<std::uint8_t> record) const;
};

// Told the image an operation has read, before it sends anything of it: the
// very bytes it sends.
using ImageRead = std::function<void(const FirmwareImage& image)>;

// The length of a file that may be chosen as firmware, without reading it.
// Shows the box naming the file and the reason, and gives nothing, for a file
// that is missing, unreadable, too large or not a regular file.
std::optional<std::int64_t> CheckFirmwareFile(Operator& op, const std::string& path);

// Reads the whole file; on any problem shows the box and gives nothing.
std::optional<FirmwareImage> LoadFirmwareImage(Operator& op, const std::string& path);

}  // namespace veltra
