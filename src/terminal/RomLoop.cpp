#include "terminal/RomLoop.h"

#include <chrono>
#include <optional>

#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "terminal/EepromBackup.h"
#include "terminal/RomSteps.h"

namespace veltra::terminal {

FlashDevice RomTurn(SerialPort& port, TerminalOperator& op, ByteString& wrs, const FirmwareImage& image,
                    const LoadCommand& command, const std::string& portName, RomLine& line) {
    return [&port, &op, &wrs, &image, &command, &portName, &line](int number) -> std::optional<DeviceEnd> {
        using Clock = std::chrono::steady_clock;
        op.SetEeprom(command.eeprom);
        std::size_t recordsWritten = 0;
        rom::ChipFacts seen;
        rom::FlashingOptions options;
        options.wakePatience = command.wait;
        options.readBack = command.verify;
        options.synchronised = true;
        options.requireGet = true;
        options.progress = [&op, &recordsWritten](rom::RunPhase phase, std::size_t done, std::size_t total) {
            if (phase == rom::RunPhase::Writing) recordsWritten = done;
            op.ShowRecords(phase == rom::RunPhase::Writing ? "written" : "read back", done, total);
        };
        if (command.chipIdLength > 0) options.chipId = rom::MemoryArea{command.chipIdAddress, command.chipIdLength};
        options.beforeErase = [&seen, &line](const rom::ChipFacts& facts) {
            seen = facts;
            // The board flashed last, back in its bootloader (reset, or put
            // on again): flashed once is enough.
            return facts.chipId.empty() || LowerHex(facts.chipId) != line.lastChipId;
        };
        if (command.keepEeprom) {
            options.keepEeprom = [&](const ByteString& area) {
                return KeepEeprom(command, op, portName, LowerHex(seen.chipId), area);
            };
        }
        const auto start = Clock::now();
        const rom::FlashingOutcome outcome = rom::RunFlashing(port, op, wrs, image, options);
        if (outcome == rom::FlashingOutcome::NotBootloader) {
            op.Say("no ROM bootloader: the device answered 0x7F but not Get; not flashed");
            return std::nullopt;
        }
        if (outcome == rom::FlashingOutcome::Skipped) {
            op.Say("already flashed: chip ID " + LowerHex(seen.chipId));
            return std::nullopt;
        }
        DeviceEnd end;
        end.number = number;
        end.elapsed = Clock::now() - start;
        const std::string last = LastWords(op.LastTrafficLog());
        end.status = last.empty() ? op.LastMessage() : last;
        end.code = ExitCodeOf(outcome);
        end.bytes = static_cast<std::int64_t>(recordsWritten * rom::kRecordSize);
        end.chipIdAsked = command.chipIdLength > 0;
        end.chipId = LowerHex(seen.chipId);
        // A backup of the EEPROM that could not be kept: every board after
        // would meet the same.
        end.endsLine = outcome == rom::FlashingOutcome::FileProblem;
        if (outcome == rom::FlashingOutcome::Written && !end.chipId.empty()) line.lastChipId = end.chipId;
        return end;
    };
}

}  // namespace veltra::terminal
