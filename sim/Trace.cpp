#include "sim/Trace.h"

#include <utility>

namespace veltra::sim {
namespace {

ByteString Joined(const Reply& reply) {
    ByteString all;
    for (const Piece& piece : reply) all += piece.bytes;
    return all;
}

std::string Answered(const Reply& reply) {
    return reply.empty() ? "no answer" : "answered " + Hex(Joined(reply));
}

std::string HexWord(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(value));
    return text;
}

std::string CommandName(const ByteString& frame) {
    if ((ByteAt(frame, 0) ^ ByteAt(frame, 1)) != 0xFF) return "bad complement";
    switch (ByteAt(frame, 0)) {
        case 0x00: return "Get";
        case 0x43: return "Erase Memory";
        case 0x31: return "Write Memory";
        case 0x21: return "Go";
        case 0x11: return "Read Memory";
        default: return "unknown command";
    }
}

std::string Describe(const RomFrame& frame) {
    switch (frame.kind) {
        case RomFrame::Kind::Command: return "command " + Hex(frame.bytes) + " " + CommandName(frame.bytes);
        case RomFrame::Kind::EraseParameter:
            return "erase   " + Hex(frame.bytes) +
                   (frame.bytes == ByteString("\xFF\x00", 2)   ? " global"
                    : frame.bytes == ByteString("\xEE\x11", 2) ? " EEPROM"
                                                               : " unknown");
        case RomFrame::Kind::Address: return "address " + Hex(frame.bytes) + " " + HexWord(frame.address);
        case RomFrame::Kind::Data:
            return "data    " + std::to_string(frame.bytes.size() - 2) + " bytes at " + HexWord(frame.address) + ": " +
                   Hex(frame.bytes);
        case RomFrame::Kind::ReadAddress: return "read    " + Hex(frame.bytes) + " " + HexWord(frame.address);
        case RomFrame::Kind::ReadCount:
            return "count   " + Hex(frame.bytes) + " " + std::to_string(ByteAt(frame.bytes, 0) + 1) + " bytes from " +
                   HexWord(frame.address);
    }
    return {};
}

}  // namespace

std::string Hex(const ByteString& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += ' ';
        text += digits[ByteAt(bytes, i) >> 4];
        text += digits[ByteAt(bytes, i) & 0x0F];
    }
    return text;
}

LoaderTrace::LoaderTrace(std::shared_ptr<LoaderDevice> loader, std::FILE* out) : loader_(std::move(loader)), out_(out) {}

Reply LoaderTrace::OnBytes(const ByteString& bytes) {
    const int attemptsBefore = loader_->HandshakeAttempts();
    const std::size_t framesBefore = loader_->Frames().size();
    Reply reply = loader_->OnBytes(bytes);

    const int attempts = loader_->HandshakeAttempts();
    const std::vector<ByteString> frames = loader_->Frames();
    const std::vector<bool> accepted = loader_->Accepted();
    if (attempts > attemptsBefore) {
        std::fprintf(out_, "wake-up  attempt %d: %s\n", attempts, Answered(reply).c_str());
    } else if (frames.size() == framesBefore && !reply.empty()) {
        std::fprintf(out_, "wake-up  again: %s\n", Answered(reply).c_str());
    }
    for (std::size_t i = framesBefore; i < frames.size(); ++i) {
        const char* verdict = accepted[i] ? "accepted" : reply.empty() ? "unanswered" : "refused";
        std::fprintf(out_, "block %3zu marker %02X %-10s %s\n", i + 1, ByteAt(frames[i], 0), verdict,
                     Hex(frames[i]).c_str());
    }
    return reply;
}

RomTrace::RomTrace(std::shared_ptr<RomBootloaderDevice> rom, std::FILE* out) : rom_(std::move(rom)), out_(out) {}

Reply RomTrace::OnBytes(const ByteString& bytes) {
    const int attemptsBefore = rom_->SyncAttempts();
    const std::size_t framesBefore = rom_->Log().size();
    Reply reply = rom_->OnBytes(bytes);

    if (rom_->SyncAttempts() > attemptsBefore) {
        std::fprintf(out_, "sync     attempt %d: %s\n", rom_->SyncAttempts(), Answered(reply).c_str());
    }
    const std::vector<RomFrame> log = rom_->Log();
    for (std::size_t i = framesBefore; i < log.size(); ++i) {
        std::fprintf(out_, "%-4s %s\n", log[i].acknowledged ? "ACK" : "NACK", Describe(log[i]).c_str());
    }
    return reply;
}

}  // namespace veltra::sim
