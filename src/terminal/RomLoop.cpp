#include "terminal/RomLoop.h"

#include <chrono>
#include <optional>

#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "terminal/RomSteps.h"

namespace veltra::terminal {

FlashDevice RomTurn(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareImage& image,
                    const LoadCommand& command, const std::string& portName, RomLine& line) {
    return [&port, &op, &wrs, &image, &command, &portName, &line](int number) -> std::optional<DeviceEnd> {
        using Clock = std::chrono::steady_clock;
        RomRunSeen seen;
        rom::FlashingOptions options = RomRunOptions(command, op, portName, seen);
        // Woken by the line's probe, and only a ROM bootloader is flashed.
        options.synchronised = true;
        options.requireGet = true;
        options.beforeErase = [&seen, &line](const rom::ChipFacts& facts) {
            seen.chip = facts;
            // The board flashed last, back in its bootloader (reset, or put
            // on again): flashed once is enough.
            return facts.chipId.empty() || LowerHex(facts.chipId) != line.lastChipId;
        };
        const auto start = Clock::now();
        const rom::FlashingOutcome outcome = rom::RunFlashing(port, op, wrs, image, options);
        if (outcome == rom::FlashingOutcome::NotBootloader) {
            op.Say("no ROM bootloader: the device answered 0x7F but not Get; not flashed");
            return std::nullopt;
        }
        if (outcome == rom::FlashingOutcome::Skipped) {
            op.Say("already flashed: chip ID " + LowerHex(seen.chip.chipId));
            return std::nullopt;
        }
        DeviceEnd end;
        end.number = number;
        end.elapsed = Clock::now() - start;
        const std::string last = LastWords(op.LastTrafficLog());
        end.status = last.empty() ? op.LastMessage() : last;
        end.code = ExitCodeOf(outcome);
        end.bytes = static_cast<std::int64_t>(seen.recordsWritten * rom::kRecordSize);
        end.chipIdAsked = command.chipIdLength > 0;
        end.chipId = LowerHex(seen.chip.chipId);
        // A backup of the EEPROM that could not be kept: every board after
        // would meet the same.
        end.endsLine = outcome == rom::FlashingOutcome::FileProblem;
        if (outcome == rom::FlashingOutcome::Written && !end.chipId.empty()) line.lastChipId = end.chipId;
        return end;
    };
}

}  // namespace veltra::terminal
