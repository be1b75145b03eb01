#include "rombootloader/ChipQueries.h"

#include <algorithm>
#include <array>

#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderExchange.h"
#include "rombootloader/BootloaderFrames.h"

namespace veltra::rom {
namespace {

constexpr std::array<std::uint8_t, 4> kCommandsOfARun{kReadMemory, kWriteMemory, kEraseMemory, kGo};

// A device that did not answer Get may still be talking, a loader answering
// what it took for part of a frame, say. One command's ceiling of silence
// ends it; a device that never falls silent is left after a few ceilings, and
// the next frame drops what came before it as every frame does.
void LetTheLineFallSilent(SerialPort& port) {
    constexpr int kMostCeilings = 4;
    for (int i = 0; i < kMostCeilings && !port.Lost(); ++i) {
        if (port.ReadAnswer(SerialPort::kMaxChunk, CeilingOf(Step::Command)).empty()) return;
    }
}

// 0x79, N, then N + 1 bytes (the version, then N command codes), then 0x79.
bool GetAnswered(SerialPort& port, ByteString& wrs) {
    if (!PutFrame(port, wrs, Command(kGet))) return false;
    const ByteString answer = port.ReadAnswer(1, CeilingOf(Step::Command));
    if (answer.empty() || ByteAt(answer, 0) != kAck || port.Lost()) return false;
    // Like the bytes of Read Memory, the rest follows the answer at the line's pace.
    const ByteString n = port.ReadAnswer(1, kReadCeiling);
    if (n.empty() || port.Lost()) return false;
    const std::size_t count = std::size_t{ByteAt(n, 0)} + 1;
    const ByteString rest = port.ReadAnswer(count + 1, kReadCeiling);
    if (rest.size() != count + 1 || ByteAt(rest, count) != kAck) return false;
    const ByteString codes = rest.substr(1, count - 1);
    return std::all_of(kCommandsOfARun.begin(), kCommandsOfARun.end(),
                       [&codes](std::uint8_t code) { return codes.find(static_cast<char>(code)) != ByteString::npos; });
}

}  // namespace

bool AnswersGet(SerialPort& port, ByteString& wrs) {
    if (GetAnswered(port, wrs)) return true;
    LetTheLineFallSilent(port);
    return false;
}

}  // namespace veltra::rom
