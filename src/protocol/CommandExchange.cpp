#include "protocol/CommandExchange.h"

#include "protocol/TrafficLog.h"

namespace veltra {

ExchangeResult wrstr(SerialPort& port, Operator& op, const ByteString& sstr,
                     const std::function<void()>& whileOnLine) {
    port.WritePort(sstr);  // the count is not needed: a failed write shows up as silence
    if (whileOnLine) whileOnLine();

    ExchangeResult result;
    ByteString reply;
    std::uint8_t verdict = 0;
    if (port.Lost()) {
        // The port has told the operator; no reply can come.
    } else if (sstr.empty()) {
        op.ShowMessage({"Error communication", MessageIcon::None, {}});
    } else {
        // The verdict is taken before the count is raised, so a reply completed
        // by the last read is still accepted.
        for (int reads = 0;;) {
            if (verdict == kAccepted) {
                result.status = kAccepted;
                break;
            }
            if (++reads > kMaxReplyReads) break;
            reply += port.ReadPort();
            if (port.Lost()) break;
            if (reply.size() > 3) {
                out_tt2(op, reply);
                verdict = ByteAt(reply, 2);
            } else {
                verdict = 0;
            }
            if (verdict == kRefused) {
                op.ShowMessage({"Ошибка 1F !!!!", MessageIcon::None, {}});
                break;
            }
        }
    }
    if (!reply.empty()) result.answer = ByteAt(reply, 0);
    return result;
}

}  // namespace veltra
