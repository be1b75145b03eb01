// The port calls on Windows: each call of the seam is the kernel32 call of
// the same name, and the code in the setup boxes is the system's error code.
//   CreateFileA       CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share
//                     mode 0, OPEN_EXISTING): Windows itself refuses a COM
//                     port that another program has open, so the guards of
//                     the POSIX side (OpenGuards) have nothing to do here. On
//                     failure OpenProblem() says why in plain words: the "not
//                     available" warning box, no code.
//   SetCommTimeouts   SetCommTimeouts with the five timeouts as they are: the
//                     system keeps them with the open port.
//   BuildCommDCBA     BuildCommDCBA into an all-zero DCB; the baud rate, byte
//                     size, parity and stop bits are taken from it.
//   SetCommState      SetCommState of a zeroed DCB with those four settings,
//                     binary mode, DTR and RTS raised and no flow control.
//   ReadFile          ReadFile; the driver keeps the installed timeouts.
//                     After a read that brought nothing, ClearCommError
//                     asks whether the device is still there: a port whose
//                     adapter was pulled may time out its reads quietly.
//   WriteFile         WriteFile; likewise.
//   FlushFileBuffers  FlushFileBuffers: returns when the driver has sent
//                     everything written.
//   PurgeComm         PurgeComm(PURGE_RXCLEAR).
//   CloseHandle       CloseHandle.
//   GetLastError      the system's code kept by the last failing call of this
//                     file, so that nothing called after the failure (an
//                     allocation building the box's text) can change it.
#include <windows.h>

#include <algorithm>
#include <limits>

#include "serial/PortPlatform.h"
#include "win32/SystemText.h"

namespace veltra::platform {
namespace {

thread_local std::uint32_t lastError = 0;
thread_local std::string openProblem;

// The characters that start and stop the sender under software flow control.
// That flow control stays off, but a DCB in which both are the same character
// is refused by SetCommState, so they hold the usual ones.
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

bool Fail(DWORD code) noexcept {
    lastError = code;
    return false;
}

bool FailWithLastError() noexcept { return Fail(::GetLastError()); }

HANDLE Native(const PortHandle& port) noexcept { return reinterpret_cast<HANDLE>(port.Native()); }

// One call moves at most a DWORD's worth of bytes.
DWORD Clamped(std::size_t size) noexcept {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

std::string OpenFailure(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return "There is no such port on this machine (is the adapter plugged in?).";
        // The port driver refuses a second opener with "access denied"; a
        // sharing violation says the same.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return "In use by another program.";
        default: {
            const std::string message = win32::SystemMessage(code);
            return "Windows error " + std::to_string(code) + (message.empty() ? "" : ": " + message) + ".";
        }
    }
}

PortHandle FailOpen(DWORD code) {
    Fail(code);
    openProblem = OpenFailure(code);
    return PortHandle{};
}

}  // namespace

PortHandle CreateFileA(const std::string& deviceName, const OpenGuards&) noexcept {
    try {
        openProblem.clear();
        // A name that stands for no port opens nothing, not even by chance.
        if (deviceName.empty()) return FailOpen(ERROR_FILE_NOT_FOUND);
        const HANDLE handle = ::CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            0 /* no other opener while the port is ours */, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return FailOpen(::GetLastError());
        return PortHandle{reinterpret_cast<NativeHandle>(handle)};
    } catch (...) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        openProblem = "Out of memory.";  // short enough to need no allocation
        return PortHandle{};
    }
}

std::string OpenProblem() { return openProblem; }

bool SetCommTimeouts(PortHandle& port, const CommTimeouts& timeouts) noexcept {
    if (!port.Valid()) return Fail(ERROR_INVALID_HANDLE);
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    if (!::SetCommTimeouts(Native(port), &t)) return FailWithLastError();
    port.SetTimeouts(timeouts);
    return true;
}

bool BuildCommDCBA(const std::string& settings, Dcb& dcb) noexcept {
    DCB built{};
    if (!::BuildCommDCBA(settings.c_str(), &built)) return FailWithLastError();
    // The seam's parity and stop-bit codes are the Windows ones.
    if (built.Parity > SPACEPARITY || built.StopBits > TWOSTOPBITS) return Fail(ERROR_INVALID_PARAMETER);
    dcb.BaudRate = built.BaudRate;
    dcb.ByteSize = built.ByteSize;
    dcb.Parity = static_cast<ParityMode>(built.Parity);
    dcb.StopBits = static_cast<StopBitsMode>(built.StopBits);
    return true;
}

bool SetCommState(PortHandle& port, const Dcb& dcb) noexcept {
    if (!port.Valid()) return Fail(ERROR_INVALID_HANDLE);
    DCB state{};
    state.DCBlength = sizeof state;
    state.fBinary = TRUE;
    state.BaudRate = dcb.BaudRate;
    state.ByteSize = dcb.ByteSize;
    state.Parity = static_cast<BYTE>(dcb.Parity);
    state.StopBits = static_cast<BYTE>(dcb.StopBits);
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.XonChar = kXon;
    state.XoffChar = kXoff;
    if (!::SetCommState(Native(port), &state)) return FailWithLastError();
    return true;
}

bool ReadFile(PortHandle& port, std::uint8_t* buffer, std::size_t toRead, std::size_t& bytesRead) noexcept {
    bytesRead = 0;
    if (!port.Valid()) return Fail(ERROR_INVALID_HANDLE);
    DWORD got = 0;
    const BOOL ok = ::ReadFile(Native(port), buffer, Clamped(toRead), &got, nullptr);
    bytesRead = got;
    if (!ok) return FailWithLastError();
    if (got == 0) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(Native(port), &errors, &status)) return FailWithLastError();
    }
    return true;
}

bool WriteFile(PortHandle& port, const std::uint8_t* buffer, std::size_t toWrite,
               std::size_t& bytesWritten) noexcept {
    bytesWritten = 0;
    if (!port.Valid()) return Fail(ERROR_INVALID_HANDLE);
    if (toWrite == 0) return true;
    DWORD sent = 0;
    const BOOL ok = ::WriteFile(Native(port), buffer, Clamped(toWrite), &sent, nullptr);
    bytesWritten = sent;
    return ok ? true : FailWithLastError();
}

bool FlushFileBuffers(PortHandle& port) noexcept {
    if (!port.Valid()) return Fail(ERROR_INVALID_HANDLE);
    return ::FlushFileBuffers(Native(port)) ? true : FailWithLastError();
}

bool PurgeComm(PortHandle& port) noexcept {
    if (!port.Valid()) return Fail(ERROR_INVALID_HANDLE);
    return ::PurgeComm(Native(port), PURGE_RXCLEAR) ? true : FailWithLastError();
}

int CloseHandle(PortHandle& port) noexcept {
    if (!port.Valid()) {
        Fail(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!::CloseHandle(reinterpret_cast<HANDLE>(port.Release()))) {
        FailWithLastError();
        return 0;
    }
    return 1;
}

std::uint32_t GetLastError() noexcept { return lastError; }

// The codes Windows gives for a port whose device has gone, from ReadFile,
// WriteFile, FlushFileBuffers or the ClearCommError after an empty read. Their
// meanings are those of Microsoft's "System Error Codes" reference
// (learn.microsoft.com/windows/win32/debug/system-error-codes); which of them
// a removed serial device produces follows Qt Serial Port's Windows back end
// (qserialport_win.cpp, its decoding of system errors into ResourceError) and
// pyserial (serialwin32.py, ClearCommError before a read).
//   ERROR_ACCESS_DENIED (5)        the driver refuses a handle whose device was
//                                  removed; the port is already open here, so
//                                  it cannot mean another program has it
//   ERROR_INVALID_HANDLE (6)       the handle no longer stands for a device
//   ERROR_BAD_COMMAND (22)         "the device does not recognize the command":
//                                  USB serial drivers after an unplug
//   ERROR_GEN_FAILURE (31)         "a device attached to the system is not
//                                  functioning"
//   ERROR_OPERATION_ABORTED (995)  the I/O was ended because the device left
//   ERROR_DEVICE_REMOVED (1617)    "the device has been removed"
bool IsPortLost(std::uint32_t code) noexcept {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_REMOVED: return true;
        default: return false;
    }
}

}  // namespace veltra::platform
