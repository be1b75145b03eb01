#pragma once
// Reading the written option bytes and records back from the microcontroller
// and comparing them with what was written.
#include <vector>

#include "firmware/FirmwareImage.h"
#include "rombootloader/ImageTransfer.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

// Reads back the four option bytes (kOptionByteSlots, from the image's
// header, which the caller has found whole), then every record of `records`;
// true when each holds what the image gave it. Otherwise a warning box names
// the first differing address, or what the bootloader would not hand back,
// and the check stops there. A lost port ends it at once, with the port's own
// box. `progress` counts the records.
bool ReadBackRecords(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                     const std::vector<RecordWrite>& records, const RecordProgress& progress = {});

}  // namespace veltra::rom
