#pragma once
// Reads a firmware file as raw bytes in fixed-size records from its first byte
// on. Positions of a record past the end of the file hold 0xFF (the erased
// value of flash), never bytes left over from the record before.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace veltra {

class RecordReader {
public:
    RecordReader() = default;
    ~RecordReader() { Close(); }
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // False, with Error() set, when the file cannot be opened for reading.
    bool Open(const std::string& path);
    // Length in bytes of the open file.
    std::int64_t Length() const { return length_; }
    // Fills the record from the current position; returns how many bytes came
    // from the file. A read that comes up short is the end of the file unless
    // Failed() says it was an error.
    std::size_t Read(std::span<std::uint8_t> record);
    bool Failed() const { return error_ != 0; }
    // Moves the read position to a byte offset from the start.
    bool Seek(std::int64_t offset);
    // The reason of the last failure, in words.
    std::string Error() const;
    void Close();

private:
    std::FILE* file_ = nullptr;
    std::int64_t length_ = 0;
    int error_ = 0;
};

}  // namespace veltra
