#include "terminal/DeviceLoop.h"

#include <cstdio>
#include <string>

#include "loader/Download.h"
#include "protocol/WakeUp.h"
#include "terminal/DeviceLog.h"
#include "terminal/ExitCode.h"
#include "terminal/Interrupt.h"

namespace veltra::terminal {
namespace {

using Clock = std::chrono::steady_clock;

// At most four probes a second. One that finds silence lasts a whole read,
// about this long; an answered one comes back at once and the rest is a pause.
constexpr std::chrono::milliseconds kProbeInterval{250};
// A device counts as taken off when this many probes in a row find silence.
constexpr int kSilentWhenGone = 2;

// PortFailed: the port takes no more bytes, or has gone; either way it has
// told the operator.
enum class Waited { Done, Interrupted, PortFailed };
enum class Awaiting { Device, NoDevice };

// What the loop sends, and why no device is flashed twice:
// - Waiting for the next device, one 0x7F a probe. Only a reply that begins
//   with 0x79 starts a download, and that reply is the download's wake-up:
//   the blocks follow at once, for a loader may answer the wake-up only once.
// - Waiting for the device just flashed to be taken off, a whole frame's
//   length of 0x7F a probe, and any reply at all means it is still there. A
//   loader that answers every wake-up answers these; one that answered once
//   and now takes every byte as part of a frame receives at least one whole
//   frame a probe, which it refuses (0x7F is no block marker, so it is never
//   taken as a block), and that refusal is its answer. Only silence, twice in
//   a row, counts as taken off.
// A device left on the line therefore keeps the loop waiting for it to go, and
// never meets the single wake-up that starts a download.
Waited WaitForLine(SerialPort& port, TerminalOperator& op, ByteString& wrs, Awaiting awaiting) {
    int silentInARow = 0;
    for (;;) {
        if (Interrupted()) return Waited::Interrupted;
        const auto start = Clock::now();
        const ProbeResult probe = ProbeLoader(port, op, wrs, awaiting == Awaiting::Device ? 1 : kFrameSize);
        if (probe == ProbeResult::WriteFailed || probe == ProbeResult::PortLost) return Waited::PortFailed;
        silentInARow = probe == ProbeResult::Silence ? silentInARow + 1 : 0;
        const bool done = awaiting == Awaiting::Device ? probe == ProbeResult::Answered
                                                       : silentInARow >= kSilentWhenGone;
        if (done) return Waited::Done;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + kProbeInterval - Clock::now());
        if (PauseUnlessInterrupted(left)) return Waited::Interrupted;
    }
}

// "#1 Successful - 1024 Bytes in 3.4 s", with --chip-id ", chip ID 0a1b..."
// or ", chip ID unreadable". Appended piece by piece: GCC 12 at -O3 takes a
// chain of concatenations here for overlapping copies (-Wrestrict).
std::string DeviceLine(const DeviceEnd& end) {
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, " in %.1f s", std::chrono::duration<double>(end.elapsed).count());
    std::string line = "#";
    line += std::to_string(end.number);
    line += ' ';
    line += OneLine(end.status);
    line += seconds;
    if (end.chipIdAsked) {
        line += ", chip ID ";
        line += end.chipId.empty() ? "unreadable" : end.chipId;
    }
    return line;
}

std::string Devices(int count) { return std::to_string(count) + (count == 1 ? " device" : " devices"); }

}  // namespace

void LoopTally::Fail(ExitCode code) {
    if (firstFailure != kExitSuccess) return;
    firstFailure = code;
    firstFailureAt = Clock::now();
}

std::string TallyLine(const LoopTally& tally) {
    std::string line = Devices(tally.devices) + ": " + std::to_string(tally.succeeded) + " succeeded, " +
                       std::to_string(tally.failed) + " failed";
    if (tally.reconnects > 0) {
        line += ", " + std::to_string(tally.reconnects) + (tally.reconnects == 1 ? " reconnect" : " reconnects");
    }
    return line;
}

LoopEnd RunLineOfDevices(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FlashDevice& flash,
                         LoopTally& tally, LoopStart start, const LoopHooks& hooks) {
    int& number = tally.devices;
    Waited waited = Waited::Done;
    bool awaitingDevice = start == LoopStart::Fresh;
    // What the line waits to be taken off: the device just flashed, or one
    // that was not flashed.
    std::string onTheLine = number > 0 ? "device " + std::to_string(number) : std::string{};
    for (;;) {
        if (!awaitingDevice) {
            op.ShowWait(onTheLine.empty() ? "Waiting for the line to be clear"
                                          : "Waiting for " + onTheLine + " to be taken off the line");
            waited = WaitForLine(port, op, wrs, Awaiting::NoDevice);
            if (waited != Waited::Done) break;
        }
        awaitingDevice = false;

        op.SetDevice(number + 1);
        op.ShowWait("Waiting for the next device");
        waited = WaitForLine(port, op, wrs, Awaiting::Device);
        if (waited != Waited::Done) break;

        bool noticed = false;
        op.SetOnActivity([&] {
            if (noticed || !Interrupted()) return;
            noticed = true;
            op.Complain("Interrupted: stopping after device " + std::to_string(number + 1) +
                        " (interrupt again to end at once)");
        });
        const std::optional<DeviceEnd> ended = flash(number + 1);
        op.SetOnActivity({});
        if (!ended) {
            // Not flashed, and said why; it must still go before the next.
            if (port.Lost()) return LoopEnd::PortGone;
            if (Interrupted()) return LoopEnd::Interrupted;
            onTheLine = "the board";
            continue;
        }
        const DeviceEnd& end = *ended;
        ++number;
        onTheLine = "device " + std::to_string(number);
        op.Conclude(DeviceLine(end));
        if (end.code == kExitSuccess) {
            ++tally.succeeded;
        } else {
            ++tally.failed;
            tally.Fail(end.code);
        }
        const bool told = !hooks.deviceEnded || hooks.deviceEnded(end);
        if (!told) tally.Fail(kExitFileProblem);
        // An interrupt ends the loop after the device; so does a port that
        // has gone, and a caller that could not take the device's end in
        // (its log cannot be written).
        if (!told || end.endsLine) return LoopEnd::Stopped;
        if (port.Lost()) return LoopEnd::PortGone;
        if (Interrupted()) return LoopEnd::Interrupted;
        if (end.code == kExitPortProblem) {
            tally.Fail(kExitPortProblem);
            return LoopEnd::Stopped;
        }
    }
    // An interrupt while waiting came with the "^C" of the terminal, and the
    // summary goes on the next line.
    if (waited == Waited::Interrupted) {
        op.FreshTerminalLine();
        return LoopEnd::Interrupted;
    }
    if (port.Lost()) return LoopEnd::PortGone;
    tally.Fail(kExitPortProblem);
    return LoopEnd::Stopped;
}

FlashDevice DownloadTurn(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareImage& image,
                         std::chrono::milliseconds wakePatience) {
    return [&port, &op, &wrs, &image, wakePatience](int number) -> std::optional<DeviceEnd> {
        const auto start = Clock::now();
        RunDownload(port, op, wrs, image, wakePatience, LoaderWake::Answered);
        DeviceEnd end;
        end.number = number;
        end.elapsed = Clock::now() - start;
        end.status = op.LastStatus();
        end.code = port.Lost() ? kExitPortProblem : ExitCodeOfStatus(op.LastStatus());
        end.bytes = BytesOfStatus(op.LastStatus());
        return end;
    };
}

}  // namespace veltra::terminal
