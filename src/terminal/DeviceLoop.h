#pragma once
// --loop: one device after another on the production line. Each device is
// flashed by RUN's download once it answers the wake-up; then the loop waits
// until the wake-up goes unanswered (the device was taken off the line) before
// it waits for the next one, so that no device is flashed twice by accident.
#include <chrono>

#include "firmware/FirmwareChoice.h"
#include "serial/ByteString.h"
#include "serial/SerialPort.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// Runs until an interrupt (at once while waiting, after the device during a
// download), a file problem or a port that takes no more bytes; prints one
// line per device and a summary. Returns 0 when no device failed, else the
// exit code of the first failure.
int RunDeviceLoop(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareChoice& choice,
                  std::chrono::milliseconds wakePatience);

}  // namespace veltra::terminal
