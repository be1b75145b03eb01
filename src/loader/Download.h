#pragma once
// The firmware download through the device's own loader, and the fixed test
// block. Blocks of 64 file bytes go out as 67-byte frames: marker, 0x70, data,
// CRC-8. The marker 0xA5 says more file data follows; 0xD2 closes the file.
#include <chrono>
#include <cstdint>

#include "firmware/FirmwareChoice.h"
#include "firmware/FirmwareImage.h"
#include "protocol/WakeUp.h"
#include "serial/ByteString.h"
#include "serial/Operator.h"
#include "serial/SerialPort.h"

namespace veltra {

inline constexpr std::uint8_t kMarkerMore = 0xA5;
inline constexpr std::uint8_t kMarkerClosing = 0xD2;
inline constexpr std::uint8_t kFrameCommand = 0x70;
inline constexpr std::size_t kBlockSize = 64;
inline constexpr std::size_t kFrameSize = kBlockSize + 3;  // marker, 0x70, data, CRC-8

// How RUN ends: its last status line. The two transfer verdicts are followed
// by the number of bytes the device took and " Bytes".
inline constexpr char kStatusSuccessful[] = "Successful - ";
inline constexpr char kStatusFailed[] = "Failed - ";
inline constexpr char kStatusNoConnection[] = "No connection";
inline constexpr char kStatusFileError[] = "File error";
inline constexpr char kStatusNoFile[] = "Please choose File";

// The frame of one block, with its check byte.
ByteString BuildBlockFrame(std::uint8_t marker, const std::uint8_t* data);

// Whether the download wakes the loader itself, or goes straight to the
// blocks because the caller's own wake-up (ProbeLoader) was just answered: a
// loader may answer the wake-up only once and then take every byte, 0x7F
// too, as part of a block frame.
enum class LoaderWake { Needed, Answered };

// "RUN": wakes the loader and sends the chosen file block by block. A port
// lost on the way ends it at once: the port's box instead of a part error,
// and "Failed - " with the bytes the device took. `imageRead`, when set, is
// told the file's image once it is read, before the loader is woken.
void RunDownload(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                 std::chrono::milliseconds wakePatience = kWakePatience, LoaderWake wake = LoaderWake::Needed,
                 const ImageRead& imageRead = {});

// RUN with an image already read: for a line of devices that all get the same
// bytes, read and checked once. The same steps as above once the file is read.
void RunDownload(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                 std::chrono::milliseconds wakePatience = kWakePatience, LoaderWake wake = LoaderWake::Needed);

// "посылка": one fixed block 0x00..0x3F, shown before it is sent; its status
// goes to the reply box as decimal text.
void SendTestBlock(SerialPort& port, Operator& op, ByteString& wrs);

}  // namespace veltra
