#pragma once
// --loop: one device after another on the production line. Each device is
// flashed (by RUN's download, or through the ROM bootloader) once it answers
// the wake-up; then the loop waits until the probes go unanswered (the device
// was taken off the line) before it waits for the next one, so that no device
// is flashed twice by accident.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "firmware/FirmwareImage.h"
#include "serial/ByteString.h"
#include "serial/SerialPort.h"
#include "terminal/ExitCode.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// How a device's run ended: its number on the line, its closing text (the
// download's status line, the ROM run's last words), the code it would have
// ended the program with alone, how long it took, and what it took.
struct DeviceEnd {
    int number = 0;
    std::string status;
    ExitCode code = kExitSuccess;
    std::chrono::steady_clock::duration elapsed{};
    std::int64_t bytes = 0;  // the download's bytes taken; the ROM run's records written × 128
    // --chip-id: the chip's ID read before the erase, in hex; empty when unreadable.
    bool chipIdAsked = false;
    std::string chipId;
    // The device's run cannot go on to the next device (a backup that could
    // not be kept): the line ends after it.
    bool endsLine = false;
};

// One device's turn once it has answered the line's wake-up byte: flashes it
// and tells how that ended; or nothing, when it was not flashed (it is no ROM
// bootloader, or the very chip flashed last) and has said so: it is waited off
// the line all the same.
using FlashDevice = std::function<std::optional<DeviceEnd>(int number)>;

struct LoopHooks {
    // Told as soon as a device's run has ended, before the loop waits for
    // the next one. False ends the loop after this device, with a file problem
    // when no device failed.
    std::function<bool(const DeviceEnd& end)> deviceEnded;
};

// What a line of devices came to.
struct LoopTally {
    int devices = 0;
    int succeeded = 0;
    int failed = 0;
    int reconnects = 0;  // times the port came back after it had gone
    ExitCode firstFailure = kExitSuccess;
    // When the first failure came: of several lines, the earliest one's code
    // is the program's.
    std::chrono::steady_clock::time_point firstFailureAt{};

    void Fail(ExitCode code);
};

// "2 devices: 1 succeeded, 1 failed", and ", 1 reconnect" once the port has
// come back.
std::string TallyLine(const LoopTally& tally);

// Why a line of devices stopped.
enum class LoopEnd {
    Interrupted,  // the operator asked
    PortGone,     // the device behind the port has gone (an adapter pulled out)
    Stopped,      // a port that takes no more bytes, or a device end not taken in
};

// How a stretch of the line begins: on a port just opened for the line, or
// on one that has come back. A device may still sit on a port that comes
// back (the one whose download was cut off, its loader in the middle of a
// frame): it is waited off the line first, never flashed again by itself.
enum class LoopStart { Fresh, Returned };

// Flashes one device after another on `port` with `flash` until an interrupt
// (at once while waiting, after the device during its run), a port that takes
// no more bytes or has gone, or a caller that cannot take a device's end in;
// prints one line per device. Counts on in `tally`, so that the devices after
// a reconnect go on numbering from those before. A port that has gone is not
// counted as a failure here: the caller may wait for it to come back.
// Interrupts must be caught (CatchInterrupts) before.
LoopEnd RunLineOfDevices(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FlashDevice& flash,
                         LoopTally& tally, LoopStart start = LoopStart::Fresh, const LoopHooks& hooks = {});

// RUN's download of `image` as a device's turn, its loader woken already.
FlashDevice DownloadTurn(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareImage& image,
                         std::chrono::milliseconds wakePatience);

}  // namespace veltra::terminal
