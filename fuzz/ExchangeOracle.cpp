#include "OracleSupport.h"
#include "Oracles.h"
#include "loader/Download.h"
#include "protocol/Crc8.h"

namespace veltra::fuzz {
namespace {

// The reply wrstr collected: everything handed out after its one write.
const ByteString& OnlyReply(const ByteString& request, const std::vector<Turn>& turns) {
    if (turns.size() != 1) {
        Violation("one request made " + std::to_string(turns.size()) + " writes", turns);
    }
    if (turns[0].written != request) Violation("the request went out changed", turns);
    return turns[0].answered;
}

bool AcceptedReply(const ByteString& reply) { return reply.size() >= 3 && ByteAt(reply, 2) == kAccepted; }

}  // namespace

void CheckExchange(const ByteString& request, const ExchangeResult& result, const std::vector<Turn>& turns) {
    const ByteString& reply = OnlyReply(request, turns);
    if (result.status != kAccepted && result.status != kNoStatus) {
        Violation("exchange status " + Hex(result.status) + " is neither 0x41 nor 0xFF", turns);
    }
    if (result.status == kAccepted && !AcceptedReply(reply)) {
        Violation("exchange status 0x41 for a reply whose third byte is not 0x41", turns);
    }
    const std::uint8_t first = reply.empty() ? kNoStatus : ByteAt(reply, 0);
    if (result.answer != first) {
        Violation("exchange answer " + Hex(result.answer) + ", the reply began " + Hex(first), turns);
    }
}

void CheckTestBlock(const std::string& replyBox, const std::vector<Turn>& turns) {
    ByteString frame;
    AppendByte(frame, kMarkerMore);
    AppendByte(frame, kFrameCommand);
    for (unsigned i = 0; i < kBlockSize; ++i) AppendByte(frame, static_cast<std::uint8_t>(i));
    const ByteString& reply = OnlyReply(Control_summ(frame), turns);
    // The box shows the status as decimal text in its hexadecimal form:
    // "65" (0x41) or "255" (0xFF).
    const std::string accepted = "36 35 ,";
    if (replyBox != accepted && replyBox != "32 35 35 ,") {
        Violation("test block reply box shows \"" + replyBox + "\"", turns);
    }
    if (replyBox == accepted && !AcceptedReply(reply)) {
        Violation("test block shown as accepted for a reply whose third byte is not 0x41", turns);
    }
}

}  // namespace veltra::fuzz
