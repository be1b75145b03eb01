#include "terminal/EepromBackup.h"

#include <algorithm>
#include <cstdio>

#include "firmware/FileBytes.h"
#include "firmware/FileSystem.h"
#include "firmware/StagedOutput.h"
#include "rombootloader/FlashingRun.h"
#include "terminal/DeviceLog.h"

namespace veltra::terminal {
namespace {

constexpr char kExtension[] = ".bin";
// Names of one chip clash only within one second; this many are plenty.
constexpr int kNameAttempts = 100;

// The characters a file name keeps on every system; each run of others
// becomes one '-'.
bool KeptInName(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

std::string SafeName(const std::string& text) {
    std::string name;
    for (const char c : text) {
        if (KeptInName(c)) {
            name += c;
        } else if (!name.empty() && name.back() != '-') {
            name += '-';
        }
    }
    // No hidden name, and nothing that looks like an option.
    while (!name.empty() && (name.back() == '-' || name.back() == '.')) name.pop_back();
    name.erase(0, std::min(name.find_first_not_of("-."), name.size()));
    return name.empty() ? "port" : name;
}

// "20261211T004005Z": the log's time without its separators, fit for a file name.
std::string CompactUtc(std::chrono::system_clock::time_point time) {
    std::string text = IsoUtc(time);
    std::erase_if(text, [](char c) { return c == '-' || c == ':'; });
    return text;
}

// "eeprom-x.bin", then "eeprom-x-2.bin", "eeprom-x-3.bin", ...
std::string Numbered(const std::string& name, int number) {
    if (number == 1) return name;
    const std::size_t dot = name.rfind('.');
    const std::size_t stem = dot == std::string::npos ? name.size() : dot;
    std::string numbered = name.substr(0, stem);
    numbered += '-';
    numbered += std::to_string(number);
    numbered += name.substr(stem);
    return numbered;
}

bool AllZero(const ByteString& area) {
    return std::all_of(area.begin(), area.end(), [](char c) { return c == '\0'; });
}

}  // namespace

std::string BackupName(const std::string& chipIdHex, const std::string& port,
                       std::chrono::system_clock::time_point time) {
    std::string name = "eeprom-";
    name += chipIdHex.empty() ? SafeName(port) : chipIdHex;
    name += '-';
    name += CompactUtc(time);
    name += kExtension;
    return name;
}

bool WriteBackup(const std::string& folder, const std::string& name, const ByteString& area, std::string& path,
                 std::string& problem) {
    std::string prefix = folder;
    if (!prefix.empty() && !veltra::platform::IsPathSeparator(prefix.back())) prefix += '/';
    StagedOutput output(prefix + name);
    if (!output.Create() || !output.Write(area.data(), area.size())) {
        problem = output.ErrorText();
        return false;
    }
    for (int number = 1; number <= kNameAttempts; ++number) {
        const std::string candidate = prefix + Numbered(name, number);
        switch (output.CommitNew(candidate)) {
            case veltra::platform::Placing::Placed: path = candidate; return true;
            case veltra::platform::Placing::NameTaken: continue;
            case veltra::platform::Placing::Failed: problem = output.ErrorText(); return false;
        }
    }
    problem = "every name from ";
    problem += name;
    problem += " to ";
    problem += Numbered(name, kNameAttempts);
    problem += " is taken";
    return false;
}

bool ReadBackup(const std::string& path, ByteString& area, std::string& problem) {
    const std::size_t length = rom::kKeptEeprom.length;
    veltra::platform::FileBytes bytes;
    const veltra::platform::FileProblem read = veltra::platform::ReadRegularFile(path, static_cast<std::int64_t>(length), bytes);
    if (!read.ok && read.tooLarge == 0) {
        problem = "Cannot read the EEPROM backup ";
        problem += path;
        problem += ": ";
        problem += read.reason;
        return false;
    }
    const std::int64_t size = read.ok ? static_cast<std::int64_t>(bytes.size()) : read.tooLarge;
    if (size != static_cast<std::int64_t>(length)) {
        problem = "The EEPROM backup ";
        problem += path;
        problem += " holds ";
        problem += std::to_string(size);
        problem += " bytes; a backup of the EEPROM holds ";
        problem += std::to_string(length);
        return false;
    }
    area.assign(bytes.begin(), bytes.end());
    return true;
}

bool KeepEeprom(const LoadCommand& command, TerminalOperator& op, const std::string& port,
                const std::string& chipIdHex, const ByteString& area) {
    const std::string name = BackupName(chipIdHex, port, std::chrono::system_clock::now());
    std::string path;
    std::string problem;
    if (!WriteBackup(command.backupDir, name, area, path, problem)) {
        std::string line = "Cannot keep the EEPROM's backup ";
        line += name;
        line += " in ";
        line += command.backupDir.empty() ? "the working folder" : command.backupDir;
        line += ": ";
        line += problem;
        line += "; nothing was erased";
        op.Complain(line);
        return false;
    }
    op.Say("EEPROM kept in " + path);
    if (AllZero(area)) {
        op.Complain("The EEPROM holds 0x00 only: an earlier run may have erased it already. An earlier backup "
                    "can be written back with --restore-eeprom");
    }
    return true;
}

}  // namespace veltra::terminal
