#include "firmware/RecordReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace veltra {

bool RecordReader::Open(const std::string& path) {
    Close();
    error_ = 0;
    file_ = std::fopen(path.c_str(), "rbe");
    if (file_ == nullptr) {
        error_ = errno;
        return false;
    }
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0) {
        error_ = errno;
        Close();
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = EISDIR;
        Close();
        return false;
    }
    length_ = static_cast<std::int64_t>(st.st_size);
    return true;
}

std::size_t RecordReader::Read(std::span<std::uint8_t> record) {
    std::fill(record.begin(), record.end(), std::uint8_t{0xFF});
    if (file_ == nullptr) {
        if (error_ == 0) error_ = EBADF;
        return 0;
    }
    errno = 0;
    const std::size_t got = std::fread(record.data(), 1, record.size(), file_);
    if (got < record.size() && std::ferror(file_)) {
        error_ = errno != 0 ? errno : EIO;
        std::fill(record.begin() + static_cast<std::ptrdiff_t>(got), record.end(), std::uint8_t{0xFF});
    }
    return got;
}

bool RecordReader::Seek(std::int64_t offset) {
    if (file_ == nullptr) return false;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

std::string RecordReader::Error() const {
    return error_ == 0 ? std::string{} : std::string(std::strerror(error_));
}

void RecordReader::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

}  // namespace veltra
