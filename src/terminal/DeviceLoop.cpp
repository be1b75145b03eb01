#include "terminal/DeviceLoop.h"

#include <cstdio>
#include <string>

#include "loader/Download.h"
#include "protocol/WakeUp.h"
#include "terminal/ExitCode.h"
#include "terminal/Interrupt.h"

namespace veltra::terminal {
namespace {

using Clock = std::chrono::steady_clock;

// At most four wake-ups a second. An unanswered one lasts a whole read, about
// this long; an answered one comes back at once and the rest is a pause.
constexpr std::chrono::milliseconds kProbeInterval{250};
// A device counts as taken off when this many wake-ups in a row go unanswered.
constexpr int kUnansweredWhenGone = 2;

enum class Waited { Done, Interrupted, PortFailed };
enum class Awaiting { Device, NoDevice };

Waited WaitForLine(SerialPort& port, TerminalOperator& op, ByteString& wrs, Awaiting awaiting) {
    int unansweredInARow = 0;
    for (;;) {
        if (Interrupted()) return Waited::Interrupted;
        const auto start = Clock::now();
        const ProbeResult probe = ProbeLoader(port, op, wrs);
        if (probe == ProbeResult::WriteFailed) return Waited::PortFailed;
        unansweredInARow = probe == ProbeResult::Answered ? 0 : unansweredInARow + 1;
        const bool done = awaiting == Awaiting::Device ? probe == ProbeResult::Answered
                                                       : unansweredInARow >= kUnansweredWhenGone;
        if (done) return Waited::Done;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + kProbeInterval - Clock::now());
        if (PauseUnlessInterrupted(left)) return Waited::Interrupted;
    }
}

// "#1 Successful - 1024 Bytes in 3.4 s". Appended piece by piece: GCC 12 at
// -O3 takes a chain of concatenations here for overlapping copies (-Wrestrict).
std::string DeviceLine(int number, const std::string& closing, Clock::duration elapsed) {
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, " in %.1f s", std::chrono::duration<double>(elapsed).count());
    std::string line = "#";
    line += std::to_string(number);
    line += ' ';
    line += closing;
    line += seconds;
    return line;
}

std::string Devices(int count) { return std::to_string(count) + (count == 1 ? " device" : " devices"); }

}  // namespace

int RunDeviceLoop(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareChoice& choice,
                  std::chrono::milliseconds wakePatience) {
    CatchInterrupts();
    int number = 0;
    int succeeded = 0;
    int failed = 0;
    ExitCode firstFailure = kExitSuccess;
    const auto fail = [&](ExitCode code) {
        if (firstFailure == kExitSuccess) firstFailure = code;
    };

    Waited waited = Waited::Done;
    for (;;) {
        op.Say("Waiting for the next device");
        waited = WaitForLine(port, op, wrs, Awaiting::Device);
        if (waited != Waited::Done) break;

        ++number;
        bool noticed = false;
        op.SetOnActivity([&] {
            if (noticed || !Interrupted()) return;
            noticed = true;
            op.Complain("Interrupted: stopping after device " + std::to_string(number) +
                        " (interrupt again to end at once)");
        });
        const auto start = Clock::now();
        RunDownload(port, op, wrs, choice, wakePatience);
        const auto elapsed = Clock::now() - start;
        op.SetOnActivity({});

        const ExitCode code = ExitCodeOfStatus(op.LastStatus());
        op.Conclude(DeviceLine(number, OneLine(op.LastStatus()), elapsed));
        if (code == kExitSuccess) {
            ++succeeded;
        } else {
            ++failed;
            fail(code);
        }
        // An interrupt ends the loop after the device; so does a file that
        // cannot be read, which every next device would meet as well.
        if (Interrupted() || code == kExitFileProblem) break;

        op.Say("Waiting for device " + std::to_string(number) + " to be taken off the line");
        waited = WaitForLine(port, op, wrs, Awaiting::NoDevice);
        if (waited != Waited::Done) break;
    }
    // An interrupt while waiting came with the "^C" of the terminal, and the
    // summary goes on the next line; one during a download went into the
    // progress line, which has been drawn over since.
    if (waited == Waited::Interrupted) op.FreshTerminalLine();
    if (waited == Waited::PortFailed) fail(kExitPortProblem);

    op.Conclude(Devices(number) + ": " + std::to_string(succeeded) + " succeeded, " + std::to_string(failed) +
                " failed");
    return firstFailure;
}

}  // namespace veltra::terminal
