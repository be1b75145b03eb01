#include "OracleSupport.h"
#include "Oracles.h"
#include "loader/Download.h"
#include "protocol/Crc8.h"

namespace veltra::fuzz {
namespace {

// The frame of block `index` of the file, built here from the file's bytes:
// 0xA5 while more than 64 bytes remain, else 0xD2; 0x70; the 64 bytes at the
// block's offset, 0xFF past the end of the file; the CRC-8.
ByteString ExpectedFrame(const std::vector<std::uint8_t>& file, std::size_t index) {
    const std::size_t offset = index * kBlockSize;
    const std::size_t remaining = file.size() > offset ? file.size() - offset : 0;
    ByteString frame;
    AppendByte(frame, remaining > kBlockSize ? kMarkerMore : kMarkerClosing);
    AppendByte(frame, kFrameCommand);
    for (std::size_t i = offset; i < offset + kBlockSize; ++i) {
        AppendByte(frame, i < file.size() ? file[i] : std::uint8_t{0xFF});
    }
    return Control_summ(frame);
}

void CheckFrame(const std::vector<std::uint8_t>& file, std::size_t index, const Turn& turn,
                const std::vector<Turn>& turns) {
    const std::string name = "block frame " + std::to_string(index + 1);
    const ByteString expected = ExpectedFrame(file, index);
    if (turn.written.size() != expected.size()) {
        Violation(name + " has " + std::to_string(turn.written.size()) + " bytes, not 67", turns);
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (turn.written[i] != expected[i]) {
            Violation(name + " byte " + std::to_string(i) + " is " + Hex(ByteAt(turn.written, i)) + ", not " +
                          Hex(ByteAt(expected, i)),
                      turns);
        }
    }
    if (turn.answered.size() < 3 || ByteAt(turn.answered, 2) != kAccepted) {
        Violation(name + " counted as accepted, but its reply's third byte was not 0x41", turns);
    }
}

}  // namespace

void CheckDownload(const FirmwareFile& file, const std::string& statusLine, int messages,
                   const std::vector<Turn>& turns) {
    const bool success = statusLine.rfind("Successful - ", 0) == 0;
    if (!file.onDisk) {
        if (!turns.empty()) Violation("a missing firmware file still sent bytes", turns);
        if (success || messages == 0) Violation("a missing firmware file was not refused with a box", turns);
        return;
    }
    if (!success) return;

    const auto first = AfterWakeUp(turns);
    if (!first) Violation("download successful without a wake-up answered 0x79", turns);
    const std::size_t blocks = file.bytes.size() / kBlockSize + 1;
    const std::size_t frames = turns.size() - *first;
    if (frames != blocks) {
        Violation("download successful after " + std::to_string(frames) + " frames; the file makes " +
                      std::to_string(blocks),
                  turns);
    }
    for (std::size_t i = 0; i < blocks; ++i) CheckFrame(file.bytes, i, turns[*first + i], turns);
}

}  // namespace veltra::fuzz
