#include "protocol/WakeUp.h"

namespace veltra {

ProbeResult ProbeLoader(SerialPort& port, Operator& op, ByteString& wrs) {
    wrs.assign(1, static_cast<char>(kWakeByte));
    if (port.WritePort(wrs) != 1) {
        op.ShowMessage({"Com port write error", MessageIcon::None, {}});
        return ProbeResult::WriteFailed;
    }
    const ByteString reply = port.ReadPort();
    return !reply.empty() && ByteAt(reply, 0) == kAck ? ProbeResult::Answered : ProbeResult::Unanswered;
}

WakeResult WakeLoader(SerialPort& port, Operator& op, ByteString& wrs,
                      std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + patience;
    for (;;) {
        switch (ProbeLoader(port, op, wrs)) {
            case ProbeResult::Answered: return WakeResult::Awake;
            case ProbeResult::WriteFailed: return WakeResult::WriteFailed;
            case ProbeResult::Unanswered: break;
        }
        if (Clock::now() >= deadline) {
            if (!op.AskRetry("No answer from device. Keep waiting?")) return WakeResult::Cancelled;
            deadline = Clock::now() + patience;
        }
    }
}

}  // namespace veltra
