#pragma once
// --loop: one device after another on the production line. Each device is
// flashed by RUN's download once it answers the wake-up; then the loop waits
// until the wake-up goes unanswered (the device was taken off the line) before
// it waits for the next one, so that no device is flashed twice by accident.
#include <chrono>
#include <functional>
#include <string>

#include "firmware/FirmwareChoice.h"
#include "firmware/FirmwareImage.h"
#include "serial/ByteString.h"
#include "serial/SerialPort.h"
#include "terminal/ExitCode.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// How a device's download ended: its number on the line, its closing status
// line, the code it would have ended the program with alone, and how long it
// took.
struct DeviceEnd {
    int number = 0;
    std::string status;
    ExitCode code = kExitSuccess;
    std::chrono::steady_clock::duration elapsed{};
};

struct LoopHooks {
    // Passed to each device's download.
    ImageRead imageRead;
    // Told as soon as a device's download has ended, before the loop waits for
    // the next one. False ends the loop after this device, with a file problem
    // when no device failed.
    std::function<bool(const DeviceEnd& end)> deviceEnded;
};

// Runs until an interrupt (at once while waiting, after the device during a
// download), a file problem or a port that takes no more bytes; prints one
// line per device and a summary. Returns 0 when no device failed, else the
// exit code of the first failure.
int RunDeviceLoop(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareChoice& choice,
                  std::chrono::milliseconds wakePatience, const LoopHooks& hooks = {});

}  // namespace veltra::terminal
