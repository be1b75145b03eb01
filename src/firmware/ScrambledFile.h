#pragma once
// The service conversion of the chosen firmware file into the scrambled firmware
// file beside it: a 64-byte header with the four option values, then each
// 64-byte block of the input combined with the scrambling key, blank blocks
// (all 0xFF) replaced by filler.
#include <string>

#include "firmware/FillerSource.h"
#include "firmware/FirmwareChoice.h"
#include "serial/Operator.h"

namespace veltra {

// Reads the option texts through op.OptionText(1..4) (ob1..ob4). Shows a
// message box on every failure and nothing on success; every check is made
// before anything is written, and a failure leaves any older output as it was.
// True when the output was written.
bool ConvertToScrambledFile(Operator& op, const FirmwareChoice& choice, FillerSource& filler);

// The path with the last three characters of its file name replaced by "cri";
// empty when the file name has fewer than three characters.
std::string ScrambledFileName(const std::string& path);

}  // namespace veltra
