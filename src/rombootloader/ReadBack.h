#pragma once
// Reading the written records back from the microcontroller and comparing
// them with what was written.
#include <vector>

#include "firmware/FirmwareImage.h"
#include "rombootloader/ImageTransfer.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

// Reads back every record of `records`; true when each holds what the image
// gave it. Otherwise a warning box names the first differing address, or the
// record the bootloader would not hand back, and the check stops there. A lost
// port ends it at once, with the port's own box.
bool ReadBackRecords(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                     const std::vector<RecordWrite>& records, const RecordProgress& progress = {});

}  // namespace veltra::rom
