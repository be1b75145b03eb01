#pragma once
// The platform side of reading a firmware file: only regular files are read,
// and a file is opened in a way that cannot block (a named pipe would hold the
// window's thread for ever) and read whole in one go.
#include <cstdint>
#include <string>
#include <vector>

namespace veltra::platform {

struct FileProblem {
    bool ok = true;
    std::string reason;         // in words, for the operator; empty when ok or too large
    std::int64_t tooLarge = 0;  // when not 0: the file holds this many bytes, past the limit
};

// The length of a regular file, without opening it; refuses folders, pipes,
// devices and sockets with the reason.
FileProblem RegularFileLength(const std::string& path, std::int64_t& length);

// Reads the whole regular file into `bytes` (replacing what it held). Refuses
// files of other kinds, and files longer than `limit` bytes.
FileProblem ReadRegularFile(const std::string& path, std::int64_t limit, std::vector<std::uint8_t>& bytes);

}  // namespace veltra::platform
