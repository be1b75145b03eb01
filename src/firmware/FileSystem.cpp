#include "firmware/FileSystem.h"

#include <algorithm>

namespace veltra::platform {

FileProblem ReadToEnd(std::int64_t expected, std::int64_t limit, const ReadSome& readSome, FileBytes& bytes) {
    bytes.resize(static_cast<std::size_t>(expected) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (static_cast<std::int64_t>(filled) > limit) break;
            bytes.resize(std::min<std::size_t>(bytes.size() * 2, static_cast<std::size_t>(limit) + 1));
        }
        std::size_t got = 0;
        std::string reason;
        if (!readSome(bytes.data() + filled, bytes.size() - filled, got, reason)) {
            bytes.clear();
            return {false, std::move(reason)};
        }
        if (got == 0) break;
        filled += got;
    }
    if (static_cast<std::int64_t>(filled) > limit) {
        bytes.clear();
        return TooLarge(static_cast<std::int64_t>(filled));
    }
    bytes.resize(filled);
    return {};
}

}  // namespace veltra::platform
