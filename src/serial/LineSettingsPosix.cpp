#include "serial/LineSettingsPosix.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <utility>

namespace veltra::platform::posix {
namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 12> kSpeeds{{
    {110, B110}, {300, B300}, {600, B600}, {1200, B1200}, {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    {230400, B230400},
}};

bool SpeedCode(std::uint32_t baud, speed_t& code) noexcept {
    for (const auto& [rate, speed] : kSpeeds) {
        if (rate == baud) {
            code = speed;
            return true;
        }
    }
    return false;
}

// Splits off the text up to the next comma; false when there is none left.
bool NextField(std::string_view& rest, std::string_view& field, bool last) noexcept {
    const std::size_t comma = rest.find(',');
    if (last) {
        if (comma != std::string_view::npos) return false;
        field = rest;
        rest = {};
        return true;
    }
    if (comma == std::string_view::npos) return false;
    field = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    return true;
}

bool ParseBaud(std::string_view field, std::uint32_t& baud) noexcept {
    if (field.empty()) return false;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, baud);
    speed_t unused{};
    return ec == std::errc{} && ptr == end && SpeedCode(baud, unused);
}

bool ParseParity(std::string_view field, ParityMode& parity) noexcept {
    if (field.size() != 1) return false;
    switch (field[0]) {
        case 'n': case 'N': parity = ParityMode::None; return true;
        case 'o': case 'O': parity = ParityMode::Odd; return true;
        case 'e': case 'E': parity = ParityMode::Even; return true;
        case 'm': case 'M': parity = ParityMode::Mark; return true;
        case 's': case 'S': parity = ParityMode::Space; return true;
        default: return false;
    }
}

bool ParseByteSize(std::string_view field, std::uint8_t& size) noexcept {
    if (field.size() != 1 || field[0] < '5' || field[0] > '8') return false;
    size = static_cast<std::uint8_t>(field[0] - '0');
    return true;
}

// 1.5 stop bits has no termios form, so it is refused here rather than
// silently turned into something else.
bool ParseStopBits(std::string_view field, StopBitsMode& stop) noexcept {
    if (field == "1") {
        stop = StopBitsMode::One;
        return true;
    }
    if (field == "2") {
        stop = StopBitsMode::Two;
        return true;
    }
    return false;
}

tcflag_t SizeFlag(std::uint8_t byteSize) noexcept {
    switch (byteSize) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

tcflag_t ParityFlags(ParityMode parity) noexcept {
    switch (parity) {
        case ParityMode::Odd: return PARENB | PARODD;
        case ParityMode::Even: return PARENB;
        // With CMSPAR the parity bit is fixed: PARODD makes it 1 (mark), its
        // absence 0 (space).
        case ParityMode::Mark: return PARENB | CMSPAR | PARODD;
        case ParityMode::Space: return PARENB | CMSPAR;
        case ParityMode::None: break;
    }
    return 0;
}

}  // namespace

bool ParseSettingsText(std::string_view text, Dcb& dcb) noexcept {
    Dcb parsed;
    std::string_view rest = text;
    std::string_view baud, parity, size, stop;
    if (!NextField(rest, baud, false) || !NextField(rest, parity, false) ||
        !NextField(rest, size, false) || !NextField(rest, stop, true)) {
        return false;
    }
    if (!ParseBaud(baud, parsed.BaudRate) || !ParseParity(parity, parsed.Parity) ||
        !ParseByteSize(size, parsed.ByteSize) || !ParseStopBits(stop, parsed.StopBits)) {
        return false;
    }
    dcb = parsed;
    return true;
}

bool ApplyDcb(const Dcb& dcb, termios& tio) noexcept {
    speed_t speed{};
    if (!SpeedCode(dcb.BaudRate, speed) || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
        dcb.StopBits == StopBitsMode::OnePointFive) {
        return false;
    }
    termios t = tio;
    // Raw: every byte value passes as it is, no line editing, no signals, no
    // CR/LF translation, no XON/XOFF taken out of the data.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(dcb.ByteSize) | ParityFlags(dcb.Parity);
    if (dcb.StopBits == StopBitsMode::Two) t.c_cflag |= CSTOPB;
    // Reads never block in the driver: the descriptor is non-blocking and the
    // read timeouts are kept with poll(), so the driver's own timer is off.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
    tio = t;
    return true;
}

}  // namespace veltra::platform::posix
