#include "protocol/TrafficLog.h"

namespace veltra {

std::string HexForm(const ByteString& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = ByteAt(bytes, i);
        if (b >= 0x10) out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
        out.push_back(' ');
    }
    return out;
}

std::string CleanStr(const ByteString& TextLine) {
    std::string out;
    out.reserve(TextLine.size());
    for (std::size_t i = 0; i < TextLine.size(); ++i) {
        const std::uint8_t b = ByteAt(TextLine, i);
        if (b == 0x5D) {
            out += "<ACK>";
        } else if (b == 0x5B) {
            out += "<NAK>";
        } else if (b >= 0x80) {
            // Two-byte UTF-8 form of U+0080..U+00FF.
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        } else if (b >= 0x30) {
            out.push_back(static_cast<char>(b));
        } else if (b == 0x0D) {
            out += "<CR>";
        } else if (b == 0x0A) {
            out += "<LF>";
        } else {
            out.push_back('@');
        }
    }
    return out;
}

void out_win(Operator& op, const ByteString& sst) {
    op.SetTrafficLog(HexForm(sst) + "\r\n\r\n" + CleanStr(sst));
}

void out_tt2(Operator& op, const ByteString& sst) {
    op.SetReplyBox(HexForm(sst) + ",");
}

}  // namespace veltra
