// Reading files and telling files apart on Windows. A name is opened with
// CreateFileW, sharing read, write and delete with everybody, and with
// FILE_FLAG_BACKUP_SEMANTICS, so that a folder opens too and is recognised by
// its attributes; the open of a named pipe or a device does not wait. The
// kind is decided on the open handle (GetFileType: only FILE_TYPE_DISK that is
// no folder is a regular file), GetFileSizeEx gives the length, ReadFile reads.
// One file is one volume serial number and file index
// (GetFileInformationByHandle). Both '\' and '/' separate folders. Paths are
// turned from UTF-8 into UTF-16 at the calls; the reasons are the system's
// error texts (FormatMessageW) in UTF-8.
#include <windows.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "firmware/FileSystem.h"
#include "win32/SystemText.h"

namespace veltra::platform {
namespace {

FileProblem Refuse(std::string reason) { return {false, std::move(reason)}; }
FileProblem FromError(DWORD code) { return Refuse(win32::ErrorText(code)); }
FileProblem FromLastError() { return FromError(::GetLastError()); }

// An existing name of any kind opened for `access`, letting others read,
// write, rename and delete it meanwhile; closed when dropped. When the open
// fails, Error() is the system's code of the failure.
class OpenedName {
public:
    OpenedName(const std::string& path, DWORD access) {
        const std::optional<std::wstring> wide = win32::WideFromUtf8(path);
        if (wide) {
            handle_ = ::CreateFileW(wide->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        }
        // Taken at once: freeing the wide name may touch the thread's last error.
        if (handle_ == INVALID_HANDLE_VALUE) error_ = ::GetLastError();
    }
    ~OpenedName() {
        if (Valid()) ::CloseHandle(handle_);
    }
    OpenedName(const OpenedName&) = delete;
    OpenedName& operator=(const OpenedName&) = delete;

    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    DWORD Error() const { return error_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = ERROR_SUCCESS;
};

// Why the open file is not a firmware file; empty for a regular file.
FileProblem KindProblem(HANDLE file) {
    ::SetLastError(ERROR_SUCCESS);
    switch (::GetFileType(file)) {
        case FILE_TYPE_DISK: break;
        case FILE_TYPE_CHAR: return Refuse("it is a device, not a regular file");
        case FILE_TYPE_PIPE: return Refuse("it is a named pipe, not a regular file");
        default:
            if (::GetLastError() != ERROR_SUCCESS) return FromLastError();
            return Refuse("it is not a regular file");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return FromLastError();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Refuse("it is a folder, not a file");
    return {};
}

FileProblem LengthOf(HANDLE file, std::int64_t& length) {
    if (auto kind = KindProblem(file); !kind.ok) return kind;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return FromLastError();
    length = static_cast<std::int64_t>(size.QuadPart);
    return {};
}

}  // namespace

FileProblem RegularFileLength(const std::string& path, std::int64_t& length) {
    const OpenedName file(path, FILE_READ_ATTRIBUTES);
    if (!file.Valid()) return FromError(file.Error());
    return LengthOf(file.Get(), length);
}

FileProblem ReadRegularFile(const std::string& path, std::int64_t limit, FileBytes& bytes) {
    bytes.clear();
    const OpenedName file(path, GENERIC_READ);
    if (!file.Valid()) return FromError(file.Error());
    std::int64_t expected = 0;
    if (auto problem = LengthOf(file.Get(), expected); !problem.ok) return problem;
    if (expected > limit) return TooLarge(expected);

    return ReadToEnd(expected, limit,
                     [&file](std::uint8_t* into, std::size_t room, std::size_t& got, std::string& reason) {
                         // One call reads at most a DWORD's worth.
                         const DWORD wanted =
                             static_cast<DWORD>(std::min<std::size_t>(room, std::numeric_limits<DWORD>::max()));
                         DWORD read = 0;
                         if (!::ReadFile(file.Get(), into, wanted, &read, nullptr)) {
                             reason = win32::ErrorText(::GetLastError());
                             return false;
                         }
                         got = read;
                         return true;
                     },
                     bytes);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    const OpenedName first(a, FILE_READ_ATTRIBUTES);
    const OpenedName second(b, FILE_READ_ATTRIBUTES);
    if (!first.Valid() || !second.Valid()) return false;
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION other{};
    if (!::GetFileInformationByHandle(first.Get(), &one) || !::GetFileInformationByHandle(second.Get(), &other)) {
        return false;
    }
    return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
           one.nFileIndexLow == other.nFileIndexLow;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace veltra::platform
