#pragma once
// What the Win32 sides share: texts inside the program are UTF-8, the system's
// wide ("W") calls take and give UTF-16, and the system's error texts become
// one UTF-8 line for the operator. Windows only.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltra::win32 {

// The UTF-16 form of a UTF-8 text; nothing when the text is not valid UTF-8
// (the thread's last error is then ERROR_NO_UNICODE_TRANSLATION).
std::optional<std::wstring> WideFromUtf8(std::string_view text);

// The UTF-8 form of a UTF-16 text; an invalid sequence becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

// The system's text for an error code in the user's language, as one line of
// UTF-8 without the closing full stop ("Access is denied"); empty when the
// system has no text for it.
std::string SystemMessage(std::uint32_t code);

// SystemMessage(code), or "Windows error N" when that is empty.
std::string ErrorText(std::uint32_t code);

}  // namespace veltra::win32
