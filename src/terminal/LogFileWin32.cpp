// The log file on Windows: CreateFileW(OPEN_ALWAYS) with FILE_APPEND_DATA as
// its only write access, so that every WriteFile goes to the end of the file
// as it is then, also when another program appends to it; others may read and
// append meanwhile. FlushFileBuffers puts a line on the disk. Paths are turned
// from UTF-8 into UTF-16 at the call; the reasons are the system's error texts.
#include <windows.h>

#include <optional>

#include "terminal/LogFile.h"
#include "win32/SystemText.h"

namespace veltra::terminal::platform {
namespace {

HANDLE Native(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

bool FailWithLastError(std::string& reason) {
    reason = win32::ErrorText(::GetLastError());
    return false;
}

}  // namespace

std::intptr_t OpenForAppending(const std::string& path, std::string& reason) {
    const std::optional<std::wstring> wide = win32::WideFromUtf8(path);
    if (!wide) {
        FailWithLastError(reason);
        return -1;
    }
    const HANDLE file = ::CreateFileW(wide->c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FailWithLastError(reason);
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(file);
}

bool AppendWhole(std::intptr_t native, const std::string& line, std::string& reason) {
    // A line is far below a DWORD's worth; one WriteFile takes it whole.
    if (line.size() > MAXDWORD) {
        reason = win32::ErrorText(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD written = 0;
    if (!::WriteFile(Native(native), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        return FailWithLastError(reason);
    }
    if (written != line.size()) {
        reason = win32::ErrorText(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

bool FlushToDisk(std::intptr_t native, std::string& reason) {
    return ::FlushFileBuffers(Native(native)) || FailWithLastError(reason);
}

void CloseLog(std::intptr_t native) noexcept { ::CloseHandle(Native(native)); }

}  // namespace veltra::terminal::platform
