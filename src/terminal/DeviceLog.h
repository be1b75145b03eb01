#pragma once
// --log: one JSON object a line for each device a run has flashed or tried
// to flash, appended to the log file as soon as that device's run has ended.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "firmware/FirmwareImage.h"
#include "serial/PortList.h"
#include "terminal/CommandLine.h"
#include "terminal/LogFile.h"

namespace veltra::terminal {

// What one line of the log says about one device.
struct DeviceRecord {
    std::chrono::system_clock::time_point time;  // when the device's run ended
    std::string port;                            // as given on the command line
    std::string adapter;                         // the port list's description; empty when none
    int device = 1;                              // the running number on the port
    std::string operation;                       // "download", "rom" or "restore-eeprom"
    std::string file;                            // as given on the command line (the backup, for a restore)
    std::int64_t size = 0;                       // bytes of the image; 0 when none was read
    std::string sha256;                          // of the image as sent; empty when none was read
    std::string result;                          // the closing text
    std::int64_t bytes = 0;                      // bytes the device took (download), records written × 128 (rom)
                                                 // or the backup's bytes written back (restore-eeprom)
    double seconds = 0.0;                        // the device's run time
    int exit = 0;                                // the code the device would have given alone
    // --chip-id: the chip's unique ID in lowercase hex, empty when it could
    // not be read; no field at all without --chip-id.
    std::optional<std::string> chipId;
    std::string reason;  // why the line is as it is ("chip ID unreadable"); no field when empty
};

// The record as one line of JSON, ending with '\n'. Text that is no valid
// UTF-8 (a file name on Linux may be any bytes) has U+FFFD in its place.
// "chip_id" and "reason" follow "exit" only when there are any, so that the
// lines of a run without --chip-id stay as they always were.
std::string JsonLine(const DeviceRecord& record);

// "2026-12-11T00:40:05Z": ISO 8601 in UTC, to the second.
std::string IsoUtc(std::chrono::system_clock::time_point time);

// The N of "Successful - N Bytes" and "Failed - N Bytes"; 0 for any other status.
std::int64_t BytesOfStatus(const std::string& status);

// The description the port list gives for `port`, found by its name
// ("ttyUSB0", "COM12:"), its device ("/dev/ttyUSB0") or its adapter
// ("usb:A1B2C3D4", "usb-path:1-1.2"); empty when the list has none.
std::string AdapterOf(const std::string& port, const DeviceTree& tree = {});

// The size and hash of the image a run read, told by the run's image hook.
struct ImageFacts {
    std::int64_t size = 0;
    std::string sha256;
};
ImageFacts FactsOf(const FirmwareImage& image);

// The log of the runs on one port: the fields that every line of the command
// line repeats, the facts of the image the current run has read, and the file
// shared with the other ports. Writes nothing without a file.
class PortLog {
public:
    // `file` may be null: no log. The port list is asked for the adapter only
    // when there is a file.
    PortLog(LogFile* file, const LoadCommand& command, const std::string& port);

    // The hook for a run's image, whose size and hash go into the next line;
    // empty without a file, so that nothing is hashed for nothing.
    ImageRead ImageHook();
    // The image every following line carries: a line of devices sends one
    // image, read and hashed once.
    void KeepImage(const ImageFacts& facts);

    // The chip of the next line: its ID in lowercase hex (empty when it could
    // not be read) and why the line is as it is (empty for nothing to say).
    // Forgotten after that line, as a line of devices meets a new chip with
    // every device. The ID goes into the line only when the command line has
    // --chip-id; there every line has one, empty until set.
    void SetChip(std::string chipIdHex, std::string reason);

    // Appends the line of device `device` and forgets the image's facts; the
    // end time is now. Without a file, true. False when the line could not be
    // written, with what to tell the operator in `problem`.
    bool Write(int device, const std::string& result, std::int64_t bytes, std::chrono::duration<double> elapsed,
               int exit, std::string& problem);

private:
    LogFile* file_;
    std::string path_;
    DeviceRecord common_;
    ImageFacts image_;
    bool keepImage_ = false;
    std::string chipId_;
    std::string reason_;
};

}  // namespace veltra::terminal
