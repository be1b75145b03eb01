// The reply fuzzer: arbitrary device replies, through the fake port, into the
// command exchange, the fixed test block, the download ("RUN") and the ROM
// bootloader flashing; after each run the oracles judge what crossed the line.
//
// Input: a selector byte, then (for the exchange only) a length byte and the
// request, then the replies as FakeLine frames them. Selector bits:
//   0-1  0 exchange, 1 download, 2 flashing, 3 test block
//   2    EEPROM checked (flashing)
//   3-4  wake-up retries the operator grants, 0..3
//   5-6  which firmware file of the operation (FirmwareFiles.h)
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "FakeLine.h"
#include "FirmwareFiles.h"
#include "FuzzOperator.h"
#include "OracleSupport.h"
#include "Oracles.h"
#include "loader/Download.h"
#include "protocol/CommandExchange.h"
#include "rombootloader/FlashingRun.h"
#include "serial/SerialPort.h"

namespace veltra::fuzz {
namespace {

// No patience at all: every unanswered wake-up attempt goes straight to the
// operator, whose few granted retries bound the attempts. The run then depends
// on the input alone, never on the clock, and a found input replays the same.
constexpr std::chrono::milliseconds kNoPatience{0};

enum class Operation { Exchange, Download, Flashing, TestBlock };

struct Selector {
    Operation operation;
    bool eeprom;
    int wakeRetries;
    std::size_t file;

    explicit Selector(std::uint8_t bits)
        : operation(static_cast<Operation>(bits & 0x03)),
          eeprom((bits & 0x04) != 0),
          wakeRetries((bits >> 3) & 0x03),
          file((bits >> 5) & 0x03) {}
};

// The exchange's request: a length byte, then up to that many bytes.
ByteString TakeRequest(std::span<const std::uint8_t>& input) {
    if (input.empty()) return {};
    const std::size_t length = std::min<std::size_t>(input[0], input.size() - 1);
    ByteString request(reinterpret_cast<const char*>(input.data() + 1), length);
    input = input.subspan(1 + length);
    return request;
}

void RunOne(const Selector& selector, std::span<const std::uint8_t> input) {
    const FirmwareFiles& files = TheFirmwareFiles();
    const ByteString request = selector.operation == Operation::Exchange ? TakeRequest(input) : ByteString{};
    FakeLine& line = TheLine();
    line.Start(input);

    FuzzOperator op(selector.eeprom, selector.wakeRetries);
    ExchangeResult exchanged;
    {
        SerialPort port(op);
        if (!port.OpenPort("COM1:", "19200,n,8,1")) Violation("the fake port did not open", line.Turns());
        // The fake answers at once; a read that finds silence still rests its
        // whole total deadline in ReadPort, so a zero deadline keeps silence free.
        port.SetReadTimeouts(ReadTimeouts{0, 0});
        port.SetAnswerCeilingPercent(0);
        ByteString wrs;
        switch (selector.operation) {
            case Operation::Exchange: exchanged = wrstr(port, op, request); break;
            case Operation::Download:
                RunDownload(port, op, wrs, files.download[selector.file].Choice(), kNoPatience);
                break;
            case Operation::Flashing:
                rom::RunFlashing(port, op, wrs, files.flashing[selector.file].Choice(), {.wakePatience = kNoPatience, .readBack = false, .progress = {}});
                break;
            case Operation::TestBlock: SendTestBlock(port, op, wrs); break;
        }
        port.ClosePort();
    }

    const std::vector<Turn>& turns = line.Turns();
    switch (selector.operation) {
        case Operation::Exchange: CheckExchange(request, exchanged, turns); break;
        case Operation::Download:
            CheckDownload(files.download[selector.file], op.statusLine, op.messages, turns);
            break;
        case Operation::Flashing:
            CheckFlashing(files.flashing[selector.file], selector.eeprom, op.trafficLog, op.messages, turns);
            break;
        case Operation::TestBlock: CheckTestBlock(op.replyBox, turns); break;
    }
}

}  // namespace
}  // namespace veltra::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    veltra::fuzz::TheFirmwareFiles();  // written once, before the first run
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::uint8_t> input(data, size);
    veltra::fuzz::RunOne(veltra::fuzz::Selector(input[0]), input.subspan(1));
    return 0;
}
