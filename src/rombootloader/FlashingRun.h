#pragma once
// One run of programming the microcontroller through its ROM bootloader:
// check the image, synchronise, erase, write the four option bytes from the
// image header, write the image records, read them back when asked to, send
// Go. The run log goes to txtRec.
#include <chrono>
#include <functional>

#include "firmware/FirmwareChoice.h"
#include "firmware/FirmwareImage.h"
#include "protocol/WakeUp.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra::rom {

// How a run ended, for callers that act on it (a script's exit code).
enum class FlashingOutcome {
    Written,      // every record written (and read back the same, when asked)
    Refused,      // the erase or a record was refused or not answered, or the read-back differed
    NoSync,       // nobody answered the synchronisation
    FileProblem,  // no file, an unreadable one, or an image unfit for the run
    PortProblem,  // the port no longer takes bytes, or has gone
};

enum class RunPhase { Writing, Checking };

struct FlashingOptions {
    std::chrono::milliseconds wakePatience = kWakePatience;
    // Read every written record back with Read Memory before Go, and fail the
    // run on the first difference.
    bool readBack = false;
    // Told after each record written or read back: how many of how many.
    std::function<void(RunPhase phase, std::size_t done, std::size_t total)> progress;
    // Told the file's image once it is read, before it is checked and before
    // anything reaches the line. Its "= {}" lets a caller that names the
    // fields above leave this one out without a missing-initializer warning.
    ImageRead imageRead = {};
};

FlashingOutcome RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                            const FlashingOptions& options = {});

}  // namespace veltra::rom
