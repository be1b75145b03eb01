// The port's platform side for the fuzzer, in place of the POSIX side: one
// always-available device whose reads come from the fuzz input (FakeLine) and
// return at once, and whose writes are all taken and recorded.
#include "FakeLine.h"
#include "serial/PortPlatform.h"
#include "serial/SerialPort.h"

namespace veltra {

std::string DefaultDeviceName(const std::string& portName) { return "fake:" + portName; }

namespace platform {
namespace {

constexpr NativeHandle kFakeDevice = 3;
constexpr std::uint32_t kErrorInvalidHandle = 6;  // the Windows code of a bad handle

thread_local std::uint32_t lastError = 0;

bool Fail() noexcept {
    lastError = kErrorInvalidHandle;
    return false;
}

}  // namespace

PortHandle CreateFileA(const std::string& deviceName, const OpenGuards&) noexcept {
    if (deviceName.empty()) {
        Fail();
        return PortHandle{};
    }
    return PortHandle{kFakeDevice};
}

// Only a port without a name fails to open here.
std::string OpenProblem() { return "no device"; }

bool SetCommTimeouts(PortHandle& port, const CommTimeouts& timeouts) noexcept {
    if (!port.Valid()) return Fail();
    port.SetTimeouts(timeouts);
    return true;
}

bool BuildCommDCBA(const std::string&, Dcb&) noexcept { return true; }

bool SetCommState(PortHandle& port, const Dcb&) noexcept { return port.Valid() ? true : Fail(); }

bool ReadFile(PortHandle& port, std::uint8_t* buffer, std::size_t toRead, std::size_t& bytesRead) noexcept {
    bytesRead = 0;
    if (!port.Valid()) return Fail();
    bytesRead = fuzz::TheLine().Read(buffer, toRead);
    return true;
}

bool WriteFile(PortHandle& port, const std::uint8_t* buffer, std::size_t toWrite,
               std::size_t& bytesWritten) noexcept {
    bytesWritten = 0;
    if (!port.Valid()) return Fail();
    fuzz::TheLine().Write(buffer, toWrite);
    bytesWritten = toWrite;
    return true;
}

bool FlushFileBuffers(PortHandle& port) noexcept { return port.Valid() ? true : Fail(); }

// What is left of the piece being handed out is what had arrived unread.
bool PurgeComm(PortHandle& port) noexcept {
    if (!port.Valid()) return Fail();
    fuzz::TheLine().DropPiece();
    return true;
}

int CloseHandle(PortHandle& port) noexcept {
    if (!port.Valid()) {
        Fail();
        return 0;
    }
    port.Release();
    return 1;
}

std::uint32_t GetLastError() noexcept { return lastError; }

// The fake device never goes away.
bool IsPortLost(std::uint32_t) noexcept { return false; }

}  // namespace platform
}  // namespace veltra
