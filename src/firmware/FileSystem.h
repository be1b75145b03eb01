#pragma once
// The one seam between the file work and the operating system: reading a
// firmware file (into the memory of FileBytes.h), telling two names of one
// file apart, the path separators, and the steps of a file written new
// (StagedOutput). Paths are UTF-8 on every platform; reasons are in words, for
// the operator, in one line.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "firmware/FileBytes.h"

namespace veltra::platform {

// --- Reading ----------------------------------------------------------------
// Only regular files are read, and a file is opened in a way that cannot
// block (a named pipe would hold the window's thread for ever) and read whole
// in one go.

struct FileProblem {
    bool ok = true;
    std::string reason;         // in words, for the operator; empty when ok or too large
    std::int64_t tooLarge = 0;  // when not 0: the file holds this many bytes, past the limit
};

// The length of a regular file, without reading it; refuses folders, pipes,
// devices and sockets with the reason.
FileProblem RegularFileLength(const std::string& path, std::int64_t& length);

// Reads the whole regular file into `bytes` (replacing what it held). Refuses
// files of other kinds, and files longer than `limit` bytes.
FileProblem ReadRegularFile(const std::string& path, std::int64_t limit, FileBytes& bytes);

// What the two platform sides of ReadRegularFile share: reads to the end
// through `readSome` (one platform read of at most `room` bytes into `into`;
// `got` 0 at the end; false with `reason` on an error), starting with room for
// the `expected` length and one byte more, so that a file that grows meanwhile
// is told at once. Read to the end, not to the length: a file that shrinks
// ends where it ends, and one that grows is read as far as `limit` allows.
using ReadSome = std::function<bool(std::uint8_t* into, std::size_t room, std::size_t& got, std::string& reason)>;
FileProblem ReadToEnd(std::int64_t expected, std::int64_t limit, const ReadSome& readSome, FileBytes& bytes);

// A file past the limit: how many bytes it holds.
inline FileProblem TooLarge(std::int64_t length) { return {false, {}, length}; }

// Whether both names lead to one and the same existing file (through a link,
// or another spelling of the name); false when either cannot be looked at.
bool IsSameFile(const std::string& a, const std::string& b);

// --- Paths -------------------------------------------------------------------

// Whether the character separates the folders of a path: '/' everywhere, and
// '\' as well on Windows.
bool IsPathSeparator(char c);

// Where the last component of a path starts: just past its last separator; 0
// when it has none.
inline std::size_t FileNameStart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsPathSeparator(path[i - 1])) return i;
    }
    return 0;
}

// --- Writing -----------------------------------------------------------------

// A file created new and written, in the steps StagedOutput takes. Each step
// returns false on failure and sets `reason`; the file is not removed by this
// class.
class NewFile {
public:
    NewFile() = default;
    ~NewFile();  // closes the file if it is still open
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    enum class Creation { Created, NameTaken, Failed };
    // Creates the file under `path` for writing. Never opens what is there
    // already: a name that is taken (by a file of any kind) gives NameTaken,
    // with its reason too.
    Creation Create(const std::string& path, std::string& reason);
    // Writes all the bytes, or fails. Where the system allows, also starts
    // putting them on the disk, without waiting: the disk works while the
    // caller makes the next piece, and FlushToDisk has less to wait for.
    bool WriteAll(const char* data, std::size_t size, std::string& reason);
    // Returns once everything written is on the disk.
    bool FlushToDisk(std::string& reason);
    // Closes the file; true when none is open.
    bool Close(std::string& reason);

private:
    std::intptr_t native_ = -1;  // a descriptor or a HANDLE; -1 when none is open
};

// Gives the file `from` the name `to` in one step, replacing a file of that
// name: at every moment `to` names the old file or the new one.
bool MoveOver(const std::string& from, const std::string& to, std::string& reason);

// Gives the file `from` the name `to` only when no file has that name yet:
// a name taken gives NameTaken, with both files left as they were.
enum class Placing { Placed, NameTaken, Failed };
Placing MoveToFreeName(const std::string& from, const std::string& to, std::string& reason);

// Returns once the folder's entries (a name just given to a file) are on the
// disk: a file synced and renamed may otherwise lose its name in a power cut.
// `folder` empty: the working folder.
bool SyncFolder(const std::string& folder, std::string& reason);

// Removes the file, quietly: for clearing up after a failure.
void RemoveQuietly(const std::string& path) noexcept;

}  // namespace veltra::platform
