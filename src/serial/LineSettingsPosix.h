#pragma once
// The POSIX side's line settings: the comma form of a settings text
// ("19200,n,8,1": baud, parity n/e/o/m/s, data bits 5..8, stop bits 1 or 2)
// read into a device control block, and that block applied to a termios.
#include <termios.h>

#include <string_view>

#include "serial/PortPlatform.h"

namespace veltra::platform::posix {

// False for anything malformed or unsupported (wrong field count, junk, a rate
// without a standard speed code, 1.5 stop bits).
bool ParseSettingsText(std::string_view text, Dcb& dcb) noexcept;

// Raw mode with the block's line settings, the receiver on, modem lines
// ignored and no flow control of any kind. False when the block names
// something the line cannot take; tio is then unchanged.
bool ApplyDcb(const Dcb& dcb, termios& tio) noexcept;

}  // namespace veltra::platform::posix
