#pragma once
// The one seam between the port module and the operating system. The calls
// keep the shape of the Windows communications calls the port module was
// designed around (a handle, a timeouts record, a device control block, a
// last-error code), so that each platform side only has to give them the same
// meaning. SerialPort.cpp talks to nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

namespace veltra {

class PortHandle;

namespace platform {

// Wide enough for a Windows HANDLE as well as a POSIX descriptor; the invalid
// value has all bits set on both.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandleValue = -1;

// Milliseconds; a zero field means "not used", as on Windows.
// One combination has a meaning of its own, as on Windows: ReadIntervalTimeout
// and ReadTotalTimeoutMultiplier both kMaxTimeout, with a constant between 1
// and kMaxTimeout - 1, make a read wait at most the constant for the first
// byte and then return at once with what has arrived.
inline constexpr std::uint32_t kMaxTimeout = 0xFFFFFFFFu;

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;          // silence after a byte that ends a read
    std::uint32_t ReadTotalTimeoutMultiplier = 0;   // per byte asked for
    std::uint32_t ReadTotalTimeoutConstant = 0;     // plus this, from the start of the read
    std::uint32_t WriteTotalTimeoutMultiplier = 0;  // per byte written
    std::uint32_t WriteTotalTimeoutConstant = 0;    // plus this, for the whole write
};

// Same order as the Windows parity and stop-bit codes.
enum class ParityMode : std::uint8_t { None, Odd, Even, Mark, Space };
enum class StopBitsMode : std::uint8_t { One, OnePointFive, Two };

// The line settings a settings text stands for. Everything the text does not
// name (flow control, handshake lines) is left off.
struct Dcb {
    std::uint32_t BaudRate = 0;
    std::uint8_t ByteSize = 0;
    ParityMode Parity = ParityMode::None;
    StopBitsMode StopBits = StopBitsMode::One;
};

// Where a platform without exclusive ports of its own finds what other
// programs hold (lock files, open descriptors); tests point it elsewhere.
struct OpenGuards {
    std::string lockDir = "/run/lock";
    std::string procDir = "/proc";
    // The terminals the kernel writes its console messages to, by name,
    // separated by blanks ("tty0 ttyS0").
    std::string consoleList = "/sys/class/tty/console/active";
};

// Opens the named device for reading and writing, exclusively: a port that
// another program holds is refused. An invalid handle when it cannot be had
// (missing, in use, not a serial device, not permitted).
PortHandle CreateFileA(const std::string& deviceName, const OpenGuards& guards = {}) noexcept;
// Why the last CreateFileA of this thread failed, in plain words for the
// operator: one line, naming the program that holds the port where it is known.
std::string OpenProblem();
// The setup calls return false on failure; GetLastError then tells why.
bool SetCommTimeouts(PortHandle& port, const CommTimeouts& timeouts) noexcept;
bool BuildCommDCBA(const std::string& settings, Dcb& dcb) noexcept;
bool SetCommState(PortHandle& port, const Dcb& dcb) noexcept;
// Reads up to toRead bytes, honouring the installed timeouts; bytesRead is
// what arrived, also when the call fails.
bool ReadFile(PortHandle& port, std::uint8_t* buffer, std::size_t toRead, std::size_t& bytesRead) noexcept;
// Writes all the bytes unless the write deadline passes or the port fails;
// bytesWritten is what went out.
bool WriteFile(PortHandle& port, const std::uint8_t* buffer, std::size_t toWrite,
               std::size_t& bytesWritten) noexcept;
// Waits until everything written has left the port.
bool FlushFileBuffers(PortHandle& port) noexcept;
// Drops every byte that has arrived and was not read yet (the receive side
// only; what is being sent goes on).
bool PurgeComm(PortHandle& port) noexcept;
// Releases the port; nonzero on success, 0 when there was nothing to close or
// the close failed. The handle is invalid afterwards in either case.
int CloseHandle(PortHandle& port) noexcept;
// The numeric code of the last failed call on this thread.
std::uint32_t GetLastError() noexcept;
// Whether the code a failed ReadFile, WriteFile or FlushFileBuffers on an open
// port left says that the device behind it has gone (an adapter pulled out),
// rather than a fault that leaves the port usable. Nothing more can pass
// through that handle.
bool IsPortLost(std::uint32_t code) noexcept;

}  // namespace platform

// Owner of one open port: closes it when dropped, so every path out of a
// failed setup releases the device.
class PortHandle {
public:
    PortHandle() noexcept = default;
    explicit PortHandle(platform::NativeHandle native) noexcept : native_(native) {}
    ~PortHandle();
    PortHandle(PortHandle&& other) noexcept;
    PortHandle& operator=(PortHandle&& other) noexcept;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    bool Valid() const noexcept { return native_ != platform::kInvalidHandleValue; }
    platform::NativeHandle Native() const noexcept { return native_; }
    // Gives up ownership without closing; the handle becomes invalid.
    platform::NativeHandle Release() noexcept;

    // Where the system keeps no timeouts with an open device (POSIX), the
    // owner keeps what SetCommTimeouts installed.
    const platform::CommTimeouts& Timeouts() const noexcept { return timeouts_; }
    void SetTimeouts(const platform::CommTimeouts& timeouts) noexcept { timeouts_ = timeouts; }

private:
    platform::NativeHandle native_ = platform::kInvalidHandleValue;
    platform::CommTimeouts timeouts_{};
};

}  // namespace veltra
