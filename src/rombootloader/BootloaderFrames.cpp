#include "rombootloader/BootloaderFrames.h"

namespace veltra::rom {

ByteString Command(std::uint8_t code) {
    ByteString frame;
    AppendByte(frame, code);
    AppendByte(frame, static_cast<std::uint8_t>(~code));
    return frame;
}

ByteString AddressFrame(std::uint32_t address) {
    ByteString frame;
    std::uint8_t check = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto b = static_cast<std::uint8_t>(address >> shift);
        AppendByte(frame, b);
        check = static_cast<std::uint8_t>(check ^ b);
    }
    AppendByte(frame, check);
    return frame;
}

ByteString DataFrame(std::span<const std::uint8_t> data) {
    ByteString frame;
    const auto count = static_cast<std::uint8_t>(data.size() - 1);
    std::uint8_t check = count;
    AppendByte(frame, count);
    for (std::uint8_t b : data) {
        AppendByte(frame, b);
        check = static_cast<std::uint8_t>(check ^ b);
    }
    AppendByte(frame, check);
    return frame;
}

}  // namespace veltra::rom
