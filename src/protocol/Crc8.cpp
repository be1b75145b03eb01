#include "protocol/Crc8.h"

#include <array>

namespace veltra {

namespace {
// CRC of the byte with only bit i set, for i = 0..7.
constexpr std::array<std::uint8_t, 8> kBitConstants{0x5E, 0xBC, 0x61, 0xC2, 0x9D, 0x23, 0x46, 0x8C};
}  // namespace

std::uint8_t crc(const std::uint8_t& data, std::uint8_t& cr) {
    const std::uint8_t t = static_cast<std::uint8_t>(data ^ cr);
    cr = 0x00;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if (t & (1u << bit)) cr = static_cast<std::uint8_t>(cr ^ kBitConstants[bit]);
    }
    return cr;
}

ByteString Control_summ(const ByteString& sstr) {
    std::uint8_t reg = 0x00;
    for (std::size_t i = 0; i < sstr.size(); ++i) crc(ByteAt(sstr, i), reg);
    ByteString out = sstr;
    AppendByte(out, reg);
    return out;
}

}  // namespace veltra
