#include "serial/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace veltra {
namespace {

std::uint32_t Millis(int ms) { return static_cast<std::uint32_t>(std::max(ms, 0)); }

// The product's 256 ms total is 1 ms for each of the 255 bytes a read asks
// for plus 1 ms; a shorter total (tests only) goes into the constant alone.
// Writes get 1 ms a byte plus 10 ms.
platform::CommTimeouts ToCommTimeouts(const ReadTimeouts& read) {
    platform::CommTimeouts t;
    t.ReadIntervalTimeout = Millis(read.intervalMs);
    const std::uint32_t total = Millis(read.totalMs);
    if (total > SerialPort::kMaxChunk) {
        t.ReadTotalTimeoutMultiplier = 1;
        t.ReadTotalTimeoutConstant = total - static_cast<std::uint32_t>(SerialPort::kMaxChunk);
    } else {
        t.ReadTotalTimeoutConstant = total;
    }
    t.WriteTotalTimeoutMultiplier = 1;
    t.WriteTotalTimeoutConstant = 10;
    return t;
}

}  // namespace

SerialPort::SerialPort(Operator& op) : op_(op), deviceName_(DefaultDeviceName) {}

SerialPort::~SerialPort() = default;

bool SerialPort::OpenPort(const std::string& portName, const std::string& settings) {
    try {
        // The window never opens over an open port; should it happen anyway,
        // the old handle goes first, so it neither leaks nor locks out this open.
        if (PortHandle_.Valid()) platform::CloseHandle(PortHandle_);
        lost_ = false;
        portName_ = portName;

        PortHandle_ = platform::CreateFileA(deviceName_(portName), guards_);
        if (!PortHandle_.Valid()) {
            // The second line tells the operator what to do about it.
            std::string text = "Com Port " + portName + " недоступен. Установите нужный порт.";
            if (const std::string problem = platform::OpenProblem(); !problem.empty()) text += "\n" + problem;
            op_.ShowMessage(Message{text, MessageIcon::Warning, {}});
            return false;
        }
        // Timeouts before line settings, as the port has always been set up.
        if (!platform::SetCommTimeouts(PortHandle_, ToCommTimeouts(timeouts_))) {
            return SetupFailed("Unable to set timeouts for port " + portName);
        }
        platform::Dcb dcb{};  // what the settings text does not name stays off
        if (!platform::BuildCommDCBA(settings, dcb)) {
            return SetupFailed("Unable to build Comm DCB " + settings);
        }
        if (!platform::SetCommState(PortHandle_, dcb)) {
            return SetupFailed("Unable to set Comm DCB " + settings);
        }
        return true;
    } catch (...) {
        platform::CloseHandle(PortHandle_);
        return false;
    }
}

bool SerialPort::SetupFailed(const std::string& what) {
    const std::uint32_t code = platform::GetLastError();
    op_.ShowMessage(Message{what + " Error: " + std::to_string(code), MessageIcon::None, {}});
    platform::CloseHandle(PortHandle_);
    return false;
}

int SerialPort::ClosePort() {
    // The handle is invalid after this, not left holding its old value: a
    // POSIX descriptor number is handed to the next file the process opens,
    // so a later read or write through the old number could touch a
    // stranger's file. Closing a port that was never opened releases nothing.
    return platform::CloseHandle(PortHandle_);
}

bool SerialPort::CheckLost() {
    if (lost_ || !PortHandle_.Valid() || !platform::IsPortLost(platform::GetLastError())) return false;
    lost_ = true;
    // Released at once: the lock file goes, and the system can give a
    // re-plugged adapter its old name again.
    platform::CloseHandle(PortHandle_);
    op_.ShowMessage(Message{"The port " + portName_ + " is gone (was the adapter unplugged?)", MessageIcon::Warning, {}});
    return true;
}

ByteString SerialPort::ReadPort() {
    const auto start = std::chrono::steady_clock::now();
    ByteString received;
    bool justLost = false;
    try {
        std::size_t count = 0;
        // A failed read still hands over what it got.
        if (!platform::ReadFile(PortHandle_, PortBuffer_.data(), kMaxChunk, count)) justLost = CheckLost();
        received.assign(reinterpret_cast<const char*>(PortBuffer_.data()), count);
    } catch (...) {
        received.clear();
    }
    // The read that finds the device gone returns at once, so the operation
    // ends now; its caller sees Lost().
    if (received.empty() && !justLost) {
        FlushPort();
        // Guarantee against spinning: a read that ends empty, for whatever
        // reason (silence, a failed read, a port that has gone, a closed or
        // never-opened port), lasts its whole total deadline. Every protocol
        // loop above calls ReadPort until it is satisfied, so an empty read
        // that returned at once would turn such a loop into a busy one.
        try {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(Millis(timeouts_.totalMs)));
        } catch (...) {
        }
    }
    return received;
}

ByteString SerialPort::ReadAnswer(std::size_t count, std::chrono::milliseconds ceiling) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + ceiling * std::max(answerCeilingPercent_, 0) / 100;
    ByteString received;
    bool justLost = false;
    try {
        // At least one read, also with no time left: what has arrived is the answer.
        for (bool firstRead = true; received.size() < count && PortHandle_.Valid(); firstRead = false) {
            const auto left = std::max<long long>(
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count(), firstRead ? 1 : 0);
            if (left <= 0) break;
            platform::CommTimeouts first = ToCommTimeouts(timeouts_);
            first.ReadIntervalTimeout = platform::kMaxTimeout;
            first.ReadTotalTimeoutMultiplier = platform::kMaxTimeout;
            first.ReadTotalTimeoutConstant =
                static_cast<std::uint32_t>(std::min<long long>(left, platform::kMaxTimeout - 1));
            if (!platform::SetCommTimeouts(PortHandle_, first)) {
                justLost = CheckLost();
                break;
            }
            std::size_t got = 0;
            const bool ok = platform::ReadFile(PortHandle_, PortBuffer_.data(),
                                               std::min(count - received.size(), kMaxChunk), got);
            received.append(reinterpret_cast<const char*>(PortBuffer_.data()), got);
            if (!ok) {
                justLost = CheckLost();
                break;
            }
            if (got == 0) break;  // the ceiling passed in silence
        }
        // Every other read keeps the port's own timeouts.
        if (PortHandle_.Valid()) platform::SetCommTimeouts(PortHandle_, ToCommTimeouts(timeouts_));
    } catch (...) {
    }
    // Short of the answer: the whole ceiling, as an empty ReadPort lasts its
    // deadline, so that no caller can spin on a silent or closed port.
    if (received.size() < count && !justLost) {
        try {
            std::this_thread::sleep_until(deadline);
        } catch (...) {
        }
    }
    return received;
}

void SerialPort::DropInput() {
    try {
        if (!platform::PurgeComm(PortHandle_)) CheckLost();
    } catch (...) {
    }
}

std::int16_t SerialPort::WritePort(const ByteString& data) {
    try {
        if (data.size() > kMaxChunk) {
            // Consecutive pieces of 255 bytes, the last one shorter, in order:
            // the same as writing the first 255 and then the rest again, without
            // a recursion as deep as the data is long. Their counts are dropped.
            for (std::size_t at = 0; at < data.size() && !lost_; at += kMaxChunk) {
                WritePiece(data.data() + at, std::min(kMaxChunk, data.size() - at));
            }
            return 0;
        }
        return WritePiece(data.data(), data.size());
    } catch (...) {
        return 0;
    }
}

std::int16_t SerialPort::WritePiece(const char* bytes, std::size_t length) {
    if (length > 0) std::memcpy(PortBuffer_.data(), bytes, length);
    std::size_t written = 0;
    // A failed write reports what went out before it.
    if (!platform::WriteFile(PortHandle_, PortBuffer_.data(), length, written)) CheckLost();
    return static_cast<std::int16_t>(written);
}

void SerialPort::FlushPort() {
    try {
        if (!platform::FlushFileBuffers(PortHandle_)) CheckLost();
    } catch (...) {
    }
}

bool SerialPort::IsOpen() const { return PortHandle_.Valid(); }

void SerialPort::SetDeviceNameMap(DeviceNameMap map) {
    deviceName_ = map ? std::move(map) : DeviceNameMap{DefaultDeviceName};
}

void SerialPort::SetReadTimeouts(ReadTimeouts timeouts) {
    timeouts_ = timeouts;
    if (PortHandle_.Valid()) platform::SetCommTimeouts(PortHandle_, ToCommTimeouts(timeouts_));
}

}  // namespace veltra
