#include "OracleSupport.h"

#include <cstdio>
#include <cstdlib>

#include "protocol/WakeUp.h"

namespace veltra::fuzz {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Two digits a byte; long frames are cut, so the account fits on a screen.
std::string Shown(const ByteString& bytes) {
    constexpr std::size_t kShown = 24;
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        const std::uint8_t b = ByteAt(bytes, i);
        out += {kDigits[b >> 4], kDigits[b & 0x0F], ' '};
    }
    if (bytes.size() > kShown) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace

void Violation(const std::string& what, const std::vector<Turn>& turns) {
    std::fprintf(stderr, "\n==== reply_fuzzer: oracle violated: %s\n", what.c_str());
    for (std::size_t i = 0; i < turns.size(); ++i) {
        std::fprintf(stderr, "  turn %zu wrote [%s] answered [%s]\n", i, Shown(turns[i].written).c_str(),
                     Shown(turns[i].answered).c_str());
    }
    std::fflush(stderr);
    std::abort();
}

std::string Hex(std::uint8_t byte) {
    return std::string{'0', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::optional<std::size_t> AfterWakeUp(const std::vector<Turn>& turns) {
    for (std::size_t i = 0; i < turns.size(); ++i) {
        const Turn& turn = turns[i];
        if (turn.written != ByteString(1, static_cast<char>(kWakeByte))) return std::nullopt;
        if (!turn.answered.empty() && ByteAt(turn.answered, 0) == kAck) return i + 1;
    }
    return std::nullopt;
}

}  // namespace veltra::fuzz
