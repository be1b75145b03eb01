#include "protocol/WakeUp.h"

namespace veltra {

WakeResult WakeLoader(SerialPort& port, Operator& op, ByteString& wrs,
                      std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + patience;
    for (;;) {
        wrs.assign(1, static_cast<char>(kWakeByte));
        if (port.WritePort(wrs) != 1) {
            op.ShowMessage({"Com port write error", MessageIcon::None, {}});
            return WakeResult::WriteFailed;
        }
        const ByteString reply = port.ReadPort();
        if (!reply.empty() && ByteAt(reply, 0) == kAck) return WakeResult::Awake;
        if (Clock::now() >= deadline) {
            if (!op.AskRetry("No answer from device. Keep waiting?")) return WakeResult::Cancelled;
            deadline = Clock::now() + patience;
        }
    }
}

}  // namespace veltra
