#include "rombootloader/BootloaderExchange.h"

#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderFrames.h"

namespace veltra::rom {

std::chrono::milliseconds CeilingOf(Step step) {
    using std::chrono::milliseconds;
    switch (step) {
        case Step::Erase: return milliseconds{10000};
        case Step::Go: return milliseconds{500};
        case Step::Command:
        case Step::Address:
        case Step::Write: break;
    }
    return milliseconds{1000};
}

bool PutFrame(SerialPort& port, ByteString& wrs, ByteString frame) {
    wrs = std::move(frame);
    port.DropInput();
    port.WritePort(wrs);
    // A lost port has shown its box.
    return !port.Lost();
}

std::uint8_t SendFrame(SerialPort& port, ByteString& wrs, ByteString frame, Step step) {
    if (!PutFrame(port, wrs, std::move(frame))) return kNoAnswer;
    const ByteString answer = port.ReadAnswer(1, CeilingOf(step));
    return answer.empty() ? kNoAnswer : ByteAt(answer, 0);
}

std::optional<ByteString> ReadMemory(SerialPort& port, ByteString& wrs, std::uint32_t address, std::size_t length) {
    if (length == 0 || length > 256) return std::nullopt;
    if (SendFrame(port, wrs, Command(kReadMemory), Step::Command) != kAck) return std::nullopt;
    if (SendFrame(port, wrs, AddressFrame(address), Step::Address) != kAck) return std::nullopt;
    // N-1 and its complement
    if (!PutFrame(port, wrs, Command(static_cast<std::uint8_t>(length - 1)))) return std::nullopt;
    const ByteString answer = port.ReadAnswer(1 + length, kReadCeiling);
    if (answer.size() != 1 + length || ByteAt(answer, 0) != kAck) return std::nullopt;
    return answer.substr(1);
}

}  // namespace veltra::rom
