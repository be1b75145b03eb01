#include "rombootloader/FlashingRun.h"

#include <array>
#include <string>

#include "firmware/RecordReader.h"
#include "protocol/CommandExchange.h"
#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/ImageTransfer.h"

namespace veltra::rom {

namespace {

constexpr std::uint8_t kGlobalErase[] = {0xFF, 0x00};
constexpr std::uint8_t kEepromErase[] = {0xEE, 0x11};

// Option bytes: header offset -> low byte of the address 0x48xx.
struct OptionByte { std::size_t headerOffset; std::uint8_t addressLow; };
constexpr std::array<OptionByte, 4> kOptionBytes{{{19, 0x03}, {20, 0x05}, {21, 0x07}, {22, 0x09}}};

void Send(SerialPort& port, Operator& op, ByteString& wrs, ByteString frame) {
    wrs = std::move(frame);
    wrstr(port, op, wrs);  // these answers are not examined
}

ByteString Bytes(std::span<const std::uint8_t> bytes) {
    return ByteString(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The image is checked before anything reaches the device: the run erases the
// whole memory first, so a missing or wrong file would leave it empty.
bool ImageFitForFlashing(Operator& op, const FirmwareChoice& choice, RecordReader& image) {
    if (!choice.Chosen()) {
        op.ShowMessage({"Please choose File", MessageIcon::None, {}});
        return false;
    }
    if (!image.Open(choice.path)) {
        op.ShowMessage({"Cannot open firmware file " + choice.path + ": " + image.Error(), MessageIcon::Warning, {}});
        return false;
    }
    const bool reachesProgram = image.Length() >= kProgramOffset;
    bool fit = reachesProgram || op.EepromChecked();  // otherwise nothing at all would be written
    if (reachesProgram) {
        std::array<std::uint8_t, 1> marker{};
        fit = image.Seek(kProgramOffset) && image.Read(marker) == 1 && marker[0] == kProgramMarker;
        if (image.Failed()) {
            op.ShowMessage({"Cannot read firmware file " + choice.path + ": " + image.Error(), MessageIcon::Warning, {}});
            return false;
        }
    }
    if (!fit) {
        op.ShowMessage({" File corrupt ", MessageIcon::None, {}});
        return false;
    }
    return image.Seek(0);
}

}  // namespace

void RunFlashing(SerialPort& port, Operator& op, ByteString& wrs, const FirmwareChoice& choice,
                 std::chrono::milliseconds wakePatience) {
    std::string runLog;
    op.SetTrafficLog(runLog);
    runLog = "Running !  ";
    op.SetTrafficLog(runLog);

    RecordReader image;
    if (!ImageFitForFlashing(op, choice, image)) return;

    if (WakeLoader(port, op, wrs, wakePatience) != WakeResult::Awake) {
        runLog += "No connection";
        op.SetTrafficLog(runLog);
        return;
    }

    Send(port, op, wrs, Command(kEraseMemory));
    Send(port, op, wrs, Bytes(kGlobalErase));
    if (op.EepromChecked()) {
        Send(port, op, wrs, Command(kEraseMemory));
        Send(port, op, wrs, Bytes(kEepromErase));
    }

    std::array<std::uint8_t, kHeaderSize> header{};
    image.Read(header);
    for (const OptionByte& option : kOptionBytes) {
        Send(port, op, wrs, Command(kWriteMemory));
        Send(port, op, wrs, AddressFrame(0x4800u | option.addressLow));
        Send(port, op, wrs, DataFrame(std::span<const std::uint8_t>(&header[option.headerOffset], 1)));
    }
    runLog += "Ok!     ";
    op.SetTrafficLog(runLog);

    const bool written = TransferImage(port, op, wrs, image, choice.path, runLog);
    image.Close();

    Send(port, op, wrs, Command(kGo));
    runLog += written ? "-----Succefull------" : "-----Failed------";
    op.SetTrafficLog(runLog);
}

}  // namespace veltra::rom
