#pragma once
// The tool's only access to the serial line: one port, synchronous and blocking
// with fixed timeouts, no framing, no retries. Faults never raise: they end the
// operation with a neutral result (false, "", 0).
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/PortPlatform.h"

namespace veltra {

// How long one read may wait. The product always runs with the defaults; tests
// of the slow service operations may shorten them.
struct ReadTimeouts {
    int intervalMs = 20;  // silence after a byte that ends a read
    int totalMs = 256;    // 1 ms for each of the 255 bytes asked for, plus 1 ms
};

// The line of the measuring device, as OpenPort takes it: 19200 baud, no
// parity, 8 data bits, 1 stop bit.
inline constexpr char kDeviceLineSettings[] = "19200,n,8,1";

// "COMn:" -> the device of the platform ("/dev/ttyS<n-1>" on Linux; on
// Windows "COMn:" itself, or "\\.\COMn" from COM10 on).
std::string DefaultDeviceName(const std::string& portName);

class SerialPort {
public:
    static constexpr std::size_t kMaxChunk = 255;  // bytes per read and per write call

    explicit SerialPort(Operator& op);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool OpenPort(const std::string& portName, const std::string& settings);
    int ClosePort();
    ByteString ReadPort();
    std::int16_t WritePort(const ByteString& data);
    void FlushPort();
    // For a peer that answers with a known number of bytes: waits at most
    // `ceiling` for `count` bytes and returns as soon as they are in, not a
    // read's interval of silence later. Fewer when the ceiling passed first;
    // bytes beyond `count` stay unread. Like ReadPort, an answer that stays
    // short of `count` lasts the whole ceiling, unless the port is lost.
    ByteString ReadAnswer(std::size_t count, std::chrono::milliseconds ceiling);
    // Drops what has arrived and was not read, so that a late or stray byte
    // cannot pass for the answer to what is sent next.
    void DropInput();

    bool IsOpen() const;
    // True once the device behind the open port has gone (an adapter pulled
    // out), until the next open. The read, write or flush that saw it showed
    // the operator one box and released the port at once, as a close would;
    // every operation on the port ends when it finds this set.
    bool Lost() const { return lost_; }

    using DeviceNameMap = std::function<std::string(const std::string& portName)>;
    void SetDeviceNameMap(DeviceNameMap map);
    void SetReadTimeouts(ReadTimeouts timeouts);
    // Scales every ReadAnswer ceiling, in percent. The product keeps 100; the
    // fuzzer, whose line answers at once or never, sets 0 so that silence
    // costs no time.
    void SetAnswerCeilingPercent(int percent) { answerCeilingPercent_ = percent; }
    void SetOpenGuards(platform::OpenGuards guards) { guards_ = std::move(guards); }

private:
    // Shows the box of a failed setup step with the platform's error code and
    // releases the port; always false.
    bool SetupFailed(const std::string& what);
    // One platform write of at most kMaxChunk bytes through PortBuffer.
    std::int16_t WritePiece(const char* bytes, std::size_t length);
    // After a failed platform call on the open port: when its code says the
    // device has gone, tells the operator and releases the port; true then.
    bool CheckLost();

    Operator& op_;
    DeviceNameMap deviceName_;
    ReadTimeouts timeouts_;
    int answerCeilingPercent_ = 100;
    platform::OpenGuards guards_;
    PortHandle PortHandle_;
    std::string portName_;  // as the operator chose it, for the box of a lost port
    bool lost_ = false;
    std::array<std::uint8_t, 256> PortBuffer_{};
};

}  // namespace veltra
