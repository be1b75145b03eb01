// The log file on Windows: CreateFileW(OPEN_ALWAYS) with FILE_APPEND_DATA as
// its only write access, so that every WriteFile goes to the end of the file
// as it is then, also when another program appends to it; others may read and
// append meanwhile. FILE_READ_DATA too, for the last byte of the file, read
// at its offset (GetFileSizeEx, ReadFile with an OVERLAPPED). The append lock
// is LockFileEx on one byte far past the end of any log, which nobody reads
// or writes: a lock on the file's data would keep other programs from
// appending meanwhile, as Windows locks are binding. FlushFileBuffers
// puts a line on the disk. Paths are turned from UTF-8 into UTF-16 at the
// call; the reasons are the system's error texts.
#include <windows.h>

#include <optional>

#include "terminal/LogFile.h"
#include "win32/SystemText.h"

namespace veltra::terminal::platform {
namespace {

HANDLE Native(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

// The append lock's byte, at 2^62.
OVERLAPPED AppendLockByte() {
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;
    return at;
}

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
    const auto create = [&](DWORD access) {
        return ::CreateFileW(wide->c_str(), access | FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE file = create(FILE_READ_DATA);
    // A file this user may append to but not read is appended to unchecked.
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) file = create(0);
    if (file == INVALID_HANDLE_VALUE) {
        FailWithLastError(reason);
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(file);
}

bool LockAppends(std::intptr_t native) {
    OVERLAPPED at = AppendLockByte();
    return ::LockFileEx(Native(native), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
}

void UnlockAppends(std::intptr_t native) {
    OVERLAPPED at = AppendLockByte();
    ::UnlockFileEx(Native(native), 0, 1, 0, &at);
}

bool EndsMidLine(std::intptr_t native) {
    const HANDLE file = Native(native);
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) || size.QuadPart <= 0) return false;
    const auto last = static_cast<ULONGLONG>(size.QuadPart - 1);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(last);
    at.OffsetHigh = static_cast<DWORD>(last >> 32);
    char byte = '\n';
    DWORD read = 0;
    return ::ReadFile(file, &byte, 1, &read, &at) && read == 1 && byte != '\n';
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
