#include "protocol/WakeUp.h"

namespace veltra {

ProbeResult ProbeLoader(SerialPort& port, Operator& op, ByteString& wrs, std::size_t count) {
    wrs.assign(count, static_cast<char>(kWakeByte));
    if (port.WritePort(wrs) != static_cast<std::int16_t>(count)) {
        if (port.Lost()) return ProbeResult::PortLost;
        op.ShowMessage({"Com port write error", MessageIcon::None, {}});
        return ProbeResult::WriteFailed;
    }
    const ByteString reply = port.ReadPort();
    if (port.Lost()) return ProbeResult::PortLost;
    if (reply.empty()) return ProbeResult::Silence;
    return ByteAt(reply, 0) == kAck ? ProbeResult::Answered : ProbeResult::OtherReply;
}

WakeResult WakeLoader(SerialPort& port, Operator& op, ByteString& wrs,
                      std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + patience;
    for (;;) {
        switch (ProbeLoader(port, op, wrs)) {
            case ProbeResult::Answered: return WakeResult::Awake;
            case ProbeResult::WriteFailed: return WakeResult::WriteFailed;
            case ProbeResult::PortLost: return WakeResult::PortLost;
            case ProbeResult::OtherReply:
            case ProbeResult::Silence: break;
        }
        if (Clock::now() >= deadline) {
            if (!op.AskRetry("No answer from device. Keep waiting?")) return WakeResult::Cancelled;
            deadline = Clock::now() + patience;
        }
    }
}

}  // namespace veltra
