#include "win32/SystemText.h"

#include <windows.h>

#include <climits>

namespace veltra::win32 {
namespace {

// The conversion calls count in int; a longer text is refused, not cut.
bool FitsInt(std::size_t length) { return length <= static_cast<std::size_t>(INT_MAX); }

std::string_view TrimmedLine(std::string_view text) {
    text = text.substr(0, text.find_first_of("\r\n"));
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::wstring> WideFromUtf8(std::string_view text) {
    if (text.empty()) return std::wstring{};
    if (!FitsInt(text.size())) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return std::nullopt;
    }
    const int length = static_cast<int>(text.size());
    const int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wide <= 0) return std::nullopt;
    std::wstring result(static_cast<std::size_t>(wide), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, result.data(), wide) != wide) {
        return std::nullopt;
    }
    return result;
}

std::string Utf8FromWide(std::wstring_view text) {
    if (text.empty() || !FitsInt(text.size())) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string result(static_cast<std::size_t>(bytes), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), bytes, nullptr, nullptr) != bytes) {
        return {};
    }
    return result;
}

std::string SystemMessage(std::uint32_t code) {
    struct LocalBuffer {
        wchar_t* text = nullptr;
        ~LocalBuffer() {
            if (text != nullptr) ::LocalFree(text);
        }
    } buffer;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the
    // address of the text the system allocated.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&buffer.text), 0, nullptr);
    if (length == 0 || buffer.text == nullptr) return {};
    return std::string(TrimmedLine(Utf8FromWide(std::wstring_view(buffer.text, length))));
}

std::string ErrorText(std::uint32_t code) {
    std::string text = SystemMessage(code);
    if (text.empty()) return "Windows error " + std::to_string(code);
    return text;
}

}  // namespace veltra::win32
