#include "FakeLine.h"

#include <algorithm>

namespace veltra::fuzz {

void FakeLine::Start(std::span<const std::uint8_t> replies) {
    input_ = replies;
    pieceLeft_ = 0;
    turns_.clear();
}

std::size_t FakeLine::Read(std::uint8_t* buffer, std::size_t room) {
    if (pieceLeft_ == 0) {
        if (input_.empty()) return 0;
        pieceLeft_ = input_.front();
        input_ = input_.subspan(1);
    }
    const std::size_t count = std::min({pieceLeft_, room, input_.size()});
    std::copy_n(input_.begin(), count, buffer);
    input_ = input_.subspan(count);
    // A piece the input cuts short ends here, so the next read is silence.
    pieceLeft_ = input_.empty() ? 0 : pieceLeft_ - count;
    // Bytes read before the tool has written anything answer no frame; the
    // oracles see them as the answer to an empty first write.
    if (turns_.empty()) turns_.emplace_back();
    turns_.back().answered.append(reinterpret_cast<const char*>(buffer), count);
    return count;
}

void FakeLine::DropPiece() {
    const std::size_t count = std::min(pieceLeft_, input_.size());
    input_ = input_.subspan(count);
    pieceLeft_ = 0;
}

void FakeLine::Write(const std::uint8_t* bytes, std::size_t count) {
    turns_.push_back(Turn{ByteString(reinterpret_cast<const char*>(bytes), count), {}});
}

FakeLine& TheLine() {
    static FakeLine line;
    return line;
}

}  // namespace veltra::fuzz
