#include "loader/Download.h"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string>

#include "firmware/FirmwareImage.h"
#include "protocol/CommandExchange.h"
#include "protocol/Crc8.h"
#include "protocol/TrafficLog.h"

namespace veltra {

ByteString BuildBlockFrame(std::uint8_t marker, const std::uint8_t* data) {
    ByteString frame;
    frame.reserve(kBlockSize + 3);
    AppendByte(frame, marker);
    AppendByte(frame, kFrameCommand);
    frame.append(reinterpret_cast<const char*>(data), kBlockSize);
    return Control_summ(frame);
}

namespace {

std::string BytesLine(const char* verdict, std::int64_t bytes) {
    return verdict + std::to_string(bytes) + " Bytes";
}

// What RUN does once the image is read: wakes the loader unless the caller
// has, and sends the image block by block.
void SendImage(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
               std::chrono::milliseconds wakePatience, LoaderWake wake) {
    if (wake == LoaderWake::Needed) {
        switch (WakeLoader(port, op, wrs, wakePatience)) {
            case WakeResult::Awake: break;
            case WakeResult::PortLost: op.SetStatusLine(BytesLine(kStatusFailed, 0)); return;
            case WakeResult::Cancelled:
            case WakeResult::WriteFailed: op.SetStatusLine(kStatusNoConnection); return;
        }
    }

    std::int64_t remaining = static_cast<std::int64_t>(image.Size());
    std::int64_t bytesSent = 0;
    std::int64_t blocksSent = 0;
    bool refused = false;
    op.SetStatusLine("Downloading");

    // An accepted block is shown (its frame in the traffic box, the bar moved
    // on) while the next frame crosses the line, so the device never waits
    // for the window. The operator sees the same steps in the same order.
    struct ShownBlock {
        ByteString frame;
        int progress = 0;
        bool pending = false;
    } accepted;
    const auto showAccepted = [&] {
        if (!accepted.pending) return;
        accepted.pending = false;
        out_win(op, accepted.frame);
        op.SetProgressValue(accepted.progress);
    };

    std::array<std::uint8_t, kBlockSize> block{};
    for (std::size_t offset = 0;; offset += kBlockSize) {
        const std::uint8_t marker = remaining > static_cast<std::int64_t>(kBlockSize) ? kMarkerMore : kMarkerClosing;
        const std::size_t got = image.CopyRecord(offset, block);
        wrs = BuildBlockFrame(marker, block.data());
        const ExchangeResult result = wrstr(port, op, wrs, showAccepted);
        ++blocksSent;
        if (result.status != kAccepted) {
            out_win(op, wrs);
            // A lost port has shown its own box: the block was not refused.
            if (!port.Lost()) {
                op.ShowMessage({" data " + std::to_string(blocksSent) + ",part error", MessageIcon::None, {}});
            }
            refused = true;
            break;
        }
        bytesSent += static_cast<std::int64_t>(kBlockSize);
        // The bar ends full: a closing block may carry fewer file bytes than 64.
        accepted = {wrs, static_cast<int>(std::min<std::int64_t>(bytesSent, op.ProgressMaximum())), true};
        remaining -= static_cast<std::int64_t>(kBlockSize);
        if (got < kBlockSize) break;
    }
    showAccepted();  // the last block accepted

    // A refused block (or a lost port) is a failure: report what the device took.
    const std::int64_t blockBytes = blocksSent * static_cast<std::int64_t>(kBlockSize);
    op.SetStatusLine(refused ? BytesLine(kStatusFailed, bytesSent) : BytesLine(kStatusSuccessful, blockBytes));
}

}  // namespace

void RunDownload(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                 std::chrono::milliseconds wakePatience, LoaderWake wake, const ImageRead& imageRead) {
    op.SetTrafficLog("Running!  ");
    if (!choice.Chosen()) {
        op.SetStatusLine(kStatusNoFile);
        return;
    }
    op.SetStatusLine("Wait connecting");

    // The whole file is read before the loader is woken: a file problem ends
    // the run with nothing sent, and nothing that happens to the file later
    // reaches the device.
    const std::optional<FirmwareImage> image = LoadFirmwareImage(op, choice.path);
    if (!image) {
        op.SetStatusLine(kStatusFileError);
        return;
    }
    if (imageRead) imageRead(*image);
    SendImage(port, op, wrs, *image, wakePatience, wake);
}

void RunDownload(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareImage& image,
                 std::chrono::milliseconds wakePatience, LoaderWake wake) {
    op.SetTrafficLog("Running!  ");
    op.SetStatusLine("Wait connecting");
    SendImage(port, op, wrs, image, wakePatience, wake);
}


void SendTestBlock(SerialPort& port, Operator& op, ByteString& wrs) {
    std::array<std::uint8_t, kBlockSize> pattern{};
    for (std::size_t i = 0; i < kBlockSize; ++i) pattern[i] = static_cast<std::uint8_t>(i);
    wrs = BuildBlockFrame(kMarkerMore, pattern.data());
    out_win(op, wrs);
    const ExchangeResult result = wrstr(port, op, wrs);
    out_tt2(op, std::to_string(result.status));
}

}  // namespace veltra
