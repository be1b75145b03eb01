// The steps of a file written new, on Windows: CreateFileW(CREATE_NEW) with
// no sharing while it is written; WriteFile until all is out;
// FlushFileBuffers; CloseHandle; MoveFileExW(MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH) over the final name, or MoveFileExW with
// MOVEFILE_WRITE_THROUGH alone to a name not taken; DeleteFileW. Paths are turned
// from UTF-8 into UTF-16 at the calls; the reasons are the system's error
// texts (FormatMessageW) in UTF-8.
#include <windows.h>

#include <algorithm>
#include <limits>
#include <optional>

#include "firmware/FileSystem.h"
#include "win32/SystemText.h"

namespace veltra::platform {
namespace {

bool Fail(DWORD code, std::string& reason) {
    reason = win32::ErrorText(code);
    return false;
}

bool FailWithLastError(std::string& reason) { return Fail(::GetLastError(), reason); }

HANDLE Native(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

NewFile::~NewFile() {
    if (native_ != -1) ::CloseHandle(Native(native_));
}

NewFile::Creation NewFile::Create(const std::string& path, std::string& reason) {
    const std::optional<std::wstring> wide = win32::WideFromUtf8(path);
    if (!wide) {
        FailWithLastError(reason);
        return Creation::Failed;
    }
    const HANDLE file =
        ::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        native_ = reinterpret_cast<std::intptr_t>(file);
        return Creation::Created;
    }
    const DWORD error = ::GetLastError();
    Fail(error, reason);
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Creation::NameTaken : Creation::Failed;
}

bool NewFile::WriteAll(const char* data, std::size_t size, std::string& reason) {
    while (size > 0) {
        // One call writes at most a DWORD's worth.
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!::WriteFile(Native(native_), data, piece, &written, nullptr)) return FailWithLastError(reason);
        if (written == 0) return Fail(ERROR_WRITE_FAULT, reason);
        data += written;
        size -= written;
    }
    return true;
}

bool NewFile::FlushToDisk(std::string& reason) {
    return ::FlushFileBuffers(Native(native_)) || FailWithLastError(reason);
}

bool NewFile::Close(std::string& reason) {
    if (native_ == -1) return true;
    const HANDLE file = Native(native_);
    native_ = -1;  // gone whatever CloseHandle says: it is never closed twice
    return ::CloseHandle(file) || FailWithLastError(reason);
}

bool MoveOver(const std::string& from, const std::string& to, std::string& reason) {
    const std::optional<std::wstring> wideFrom = win32::WideFromUtf8(from);
    if (!wideFrom) return FailWithLastError(reason);
    const std::optional<std::wstring> wideTo = win32::WideFromUtf8(to);
    if (!wideTo) return FailWithLastError(reason);
    return ::MoveFileExW(wideFrom->c_str(), wideTo->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           FailWithLastError(reason);
}

Placing MoveToFreeName(const std::string& from, const std::string& to, std::string& reason) {
    const std::optional<std::wstring> wideFrom = win32::WideFromUtf8(from);
    if (!wideFrom) {
        FailWithLastError(reason);
        return Placing::Failed;
    }
    const std::optional<std::wstring> wideTo = win32::WideFromUtf8(to);
    if (!wideTo) {
        FailWithLastError(reason);
        return Placing::Failed;
    }
    // Without MOVEFILE_REPLACE_EXISTING a name taken is refused.
    if (::MoveFileExW(wideFrom->c_str(), wideTo->c_str(), MOVEFILE_WRITE_THROUGH)) return Placing::Placed;
    const DWORD error = ::GetLastError();
    Fail(error, reason);
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Placing::NameTaken : Placing::Failed;
}

// MOVEFILE_WRITE_THROUGH has returned only once the move was on the disk.
bool SyncFolder(const std::string&, std::string&) { return true; }

void RemoveQuietly(const std::string& path) noexcept {
    try {
        if (const std::optional<std::wstring> wide = win32::WideFromUtf8(path)) ::DeleteFileW(wide->c_str());
    } catch (...) {
    }
}

}  // namespace veltra::platform
