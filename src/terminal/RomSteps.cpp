#include "terminal/RomSteps.h"

#include "rombootloader/ImageTransfer.h"
#include "terminal/EepromBackup.h"

namespace veltra::terminal {

std::string RomLineSettings(int baud) { return std::to_string(baud) + ",n,8,1"; }

std::string LastWords(const std::string& runLog) {
    const std::string log = OneLine(runLog);
    const std::size_t gap = log.rfind("  ");
    return gap == std::string::npos ? std::string{} : log.substr(log.find_first_not_of(' ', gap));
}

ExitCode ExitCodeOf(rom::FlashingOutcome outcome) {
    switch (outcome) {
        case rom::FlashingOutcome::Written: return kExitSuccess;
        case rom::FlashingOutcome::Refused: return kExitFailed;
        case rom::FlashingOutcome::NoSync: return kExitNoConnection;
        case rom::FlashingOutcome::FileProblem: return kExitFileProblem;
        case rom::FlashingOutcome::PortProblem: return kExitPortProblem;
        // Something answered the synchronisation, but no ROM bootloader.
        case rom::FlashingOutcome::NotBootloader: return kExitNoConnection;
        // Nothing was done, as the caller chose: no failure.
        case rom::FlashingOutcome::Skipped: return kExitSuccess;
    }
    return kExitFailed;
}

std::string LowerHex(const ByteString& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

rom::FlashingOptions RomRunOptions(const LoadCommand& command, TerminalOperator& op, const std::string& port,
                                   RomRunSeen& seen) {
    op.SetEeprom(command.eeprom);
    rom::FlashingOptions options;
    options.wakePatience = command.wait;
    options.readBack = command.verify;
    options.progress = [&op, &seen](rom::RunPhase phase, std::size_t done, std::size_t total) {
        if (phase == rom::RunPhase::Writing) seen.recordsWritten = done;
        op.ShowRecords(phase == rom::RunPhase::Writing ? "written" : "read back", done, total);
    };
    if (command.chipIdLength > 0) options.chipId = rom::MemoryArea{command.chipIdAddress, command.chipIdLength};
    if (command.keepEeprom) {
        options.keepEeprom = [&command, &op, port, &seen](const ByteString& area) {
            return KeepEeprom(command, op, port, LowerHex(seen.chip.chipId), area);
        };
    }
    return options;
}

}  // namespace veltra::terminal
