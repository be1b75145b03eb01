#pragma once
// One run of programming the microcontroller through its ROM bootloader:
// check the image, synchronise, erase, write the four option bytes from the
// image header, write the image records, send Go. The run log goes to txtRec.
#include <chrono>

#include "firmware/FirmwareChoice.h"
#include "protocol/WakeUp.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

void RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                 std::chrono::milliseconds wakePatience = kWakePatience);

}  // namespace veltra::rom
