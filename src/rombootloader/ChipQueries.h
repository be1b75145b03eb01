#pragma once
// What the run asks a chip before it erases anything: whether a ROM bootloader
// is what answered the synchronisation.
#include "serial/ByteString.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

// Get (0x00 0xFF): true when the device answers as a ROM bootloader does,
// 0x79, a count, a version, the command codes, 0x79, and offers the commands
// a run uses (Read Memory, Write Memory, Erase Memory, Go). Anything else, or
// silence up to the command's ceiling, is no bootloader: then whatever the
// device goes on sending is read and dropped until the line falls silent, so
// that none of it can answer the next frame.
bool AnswersGet(SerialPort& port, ByteString& wrs);

}  // namespace veltra::rom
