// veltra-load --rom at a service desk: the chip's ID told and logged, the
// data EEPROM (the device's calibration) kept in a backup file through the
// erase, and a backup written back with --restore-eeprom. veltra-load as a
// child process against the simulated bootloader of this process over a real
// pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "rombootloader/BootloaderFrames.h"
#include "sim/RomBootloaderDevice.h"
#include "support/LoadRun.h"
#include "support/RomLayout.h"
#include "support/LogLines.h"
#include "support/TempFolder.h"
#include "terminal/EepromBackup.h"
#include "terminal/RomSteps.h"

namespace veltra::terminal {
namespace {

namespace fs = std::filesystem;
using testing::kHeader;
using testing::kProgramOffset;
using testing::kRecord;
using testing::kProgramBase;
using sim::RomBootloaderDevice;
using sim::RomOptions;
using testing::Ended;
using testing::FileText;
using testing::LineFor;
using testing::Lines;
using testing::LoadToTheEnd;

constexpr std::uint32_t kEeprom = 0x4000;
constexpr std::size_t kKept = 1024;
const std::string kOldByte(1, static_cast<char>(RomBootloaderDevice::kFactoryByte));

// Two program records, and EEPROM records that differ from any calibration.
std::string Image() {
    std::string image(kProgramOffset + 2 * kRecord, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 11 + 7) % 251);
    image[kProgramOffset] = 0x23;
    return image;
}

// Every file of the folder, by name, with its bytes.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = FileText(entry.path().string());
    }
    return files;
}

// The bootloader, with a look into the backup folder the moment the erase
// command comes: what was on the disk before anything was erased.
class WatchedRom : public sim::Personality {
public:
    WatchedRom(std::shared_ptr<RomBootloaderDevice> rom, fs::path folder)
        : rom_(std::move(rom)), folder_(std::move(folder)) {}

    sim::Reply OnBytes(const ByteString& bytes) override {
        {
            std::lock_guard lock(mutex_);
            if (!erased_ && bytes == rom::Command(rom::kEraseMemory)) {
                erased_ = true;
                atErase_ = FilesIn(folder_);
            }
        }
        return rom_->OnBytes(bytes);
    }
    std::map<std::string, std::string> AtErase() const {
        std::lock_guard lock(mutex_);
        return atErase_;
    }

private:
    std::shared_ptr<RomBootloaderDevice> rom_;
    fs::path folder_;
    mutable std::mutex mutex_;
    bool erased_ = false;
    std::map<std::string, std::string> atErase_;
};

class LoadRomKeep : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(backups_);
        std::ofstream(file_, std::ios::binary) << Image();
    }

    // --rom on `device` with the line's path as the port; FILE last unless
    // `options` restore a backup. `port`: the path.
    Ended Run(std::shared_ptr<sim::Personality> device, const std::vector<std::string>& options,
              std::string* port = nullptr) {
        const auto line = LineFor(std::move(device));
        if (port != nullptr) *port = line->Path();
        std::vector<std::string> args{"--rom", "--port", line->Path(), "--wait", "1"};
        args.insert(args.end(), options.begin(), options.end());
        if (std::find(options.begin(), options.end(), "--restore-eeprom") == options.end()) args.push_back(file_);
        Ended run = LoadToTheEnd(args);
        testing::ExpectPlain(run);
        return run;
    }
    std::string Program() const { return Image().substr(kProgramOffset); }

    testing::TempFolder folder_{"veltra-rom-keep"};
    const fs::path& dir_ = folder_.Path();
    const fs::path backups_ = dir_ / "backups";
    const std::string file_ = (dir_ / "image.bin").string();
    const std::string calibration_ = RomBootloaderDevice::CalibrationPattern();
    const std::string chipHex_ = LowerHex(sim::DefaultChipId());
};

TEST_F(LoadRomKeep, ChipIdIsToldAndLoggedAndTheRunGoesOnWithoutIt) {
    struct Case {
        const char* what;
        bool readProtected;
        std::string said;
        std::string logged;
        const char* reason;  // null: no reason in the line
    };
    const Case cases[] = {
        {"readable", false, "chip ID " + chipHex_, chipHex_, nullptr},
        {"read-out protection", true, "chip ID unreadable", "", "chip ID unreadable"},
    };
    const std::string log = (dir_ / "rom.jsonl").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(log);
        auto rom = std::make_shared<RomBootloaderDevice>(RomOptions{.readProtected = c.readProtected});
        const Ended run = Run(rom, {"--chip-id", "0x48CD:12", "--log", log});
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, c.said + "\n-----Succefull------\n");
        EXPECT_EQ(rom->Memory(kProgramBase, Program().size()), Program());

        const auto lines = testing::LogLines(log);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].value("chip_id", "-"), c.logged) << lines[0].dump();
        EXPECT_EQ(lines[0].contains("reason"), c.reason != nullptr) << lines[0].dump();
        EXPECT_EQ(lines[0].value("reason", ""), c.reason != nullptr ? c.reason : "");
        EXPECT_EQ(lines[0].value("exit", -1), 0);
    }
}

TEST_F(LoadRomKeep, KeptEepromIsOnTheDiskBeforeTheEraseAndBackOnTheChipAfterIt) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        bool keep;
        std::string nameId;  // what names the backup: the chip ID, or the port
    };
    const Case cases[] = {
        {"without --keep-eeprom the erase clears it", {}, false, ""},
        {"kept, named by the chip", {"--chip-id", "0x48CD:12", "--keep-eeprom"}, true, chipHex_},
        {"kept, named by the port", {"--keep-eeprom", "--verify"}, true, "port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(backups_);
        fs::create_directory(backups_);
        auto rom = std::make_shared<RomBootloaderDevice>(RomOptions{.calibration = calibration_});
        auto watched = std::make_shared<WatchedRom>(rom, backups_);
        std::vector<std::string> options = c.options;
        if (c.keep) options.insert(options.end(), {"--backup-dir", backups_.string()});
        std::string port;
        const Ended run = Run(watched, options, &port);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(rom->GlobalErases(), 1);
        EXPECT_EQ(rom->Memory(kProgramBase, Program().size()), Program());
        EXPECT_EQ(rom->Memory(kEeprom, kKept) == calibration_, c.keep);
        if (!c.keep) {
            EXPECT_EQ(rom->Memory(kEeprom, kKept), std::string(kKept, '\0'));
            EXPECT_TRUE(FilesIn(backups_).empty());
            continue;
        }

        const std::string id =
            c.nameId == "port" ? std::regex_replace(port.substr(1), std::regex("/"), "-") : c.nameId;
        const auto files = FilesIn(backups_);
        ASSERT_EQ(files.size(), 1u) << "the backup alone, no temporary file";
        const std::string name = files.begin()->first;
        EXPECT_TRUE(std::regex_match(name, std::regex("eeprom-" + id + "-20[0-9]{6}T[0-9]{6}Z\\.bin"))) << name;
        EXPECT_EQ(files.begin()->second, calibration_);
        EXPECT_EQ(watched->AtErase(), files) << "whole on the disk before the erase";

        const std::vector<std::string> out = Lines(run.out);
        EXPECT_NE(std::find(out.begin(), out.end(), "EEPROM kept in " + (backups_ / name).string()), out.end())
            << run.out;
        EXPECT_EQ(out.back(), "-----Succefull------");
    }
}

TEST_F(LoadRomKeep, NothingIsErasedWhenTheEepromCannotBeKept) {
    const std::string notAFolder = (dir_ / "image.bin").string();
    struct Case {
        const char* what;
        RomOptions device;
        std::string backupDir;
        int code;
        std::string err;
    };
    const Case cases[] = {
        {"the EEPROM cannot be read", {.readProtected = true}, backups_.string(), 1,
         "The EEPROM could not be read: nothing was erased\n"},
        {"the backup folder is missing", {}, (dir_ / "missing").string(), 3,
         "Cannot keep the EEPROM's backup eeprom-" + chipHex_ + "-"},
        {"the backup folder is a file", {}, notAFolder, 3,
         "Cannot keep the EEPROM's backup eeprom-" + chipHex_ + "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RomOptions device = c.device;
        device.calibration = calibration_;
        auto rom = std::make_shared<RomBootloaderDevice>(device);
        const Ended run = Run(rom, {"--chip-id", "0x48CD:12", "--keep-eeprom", "--backup-dir", c.backupDir});
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << run.err;
        EXPECT_NE(run.err.find("nothing was erased\n"), std::string::npos) << run.err;
        EXPECT_EQ(Lines(run.out).back(), "Not flashed");
        EXPECT_EQ(rom->GlobalErases() + rom->EepromErases(), 0);
        EXPECT_EQ(rom->Memory(kEeprom, kKept), calibration_);
        EXPECT_EQ(rom->Memory(kProgramBase, 1), kOldByte);
        EXPECT_TRUE(FilesIn(backups_).empty());
    }
}

// An earlier backup may be the only good copy of a calibration: backups of
// the same chip in the same second get names of their own.
TEST_F(LoadRomKeep, AnEarlierBackupIsNeverOverwritten) {
    // Every name the run could choose in the next two minutes is taken.
    const auto now = std::chrono::system_clock::now();
    std::map<std::string, std::string> earlier;
    for (int second = 0; second < 120; ++second) {
        const std::string name = BackupName(chipHex_, "", now + std::chrono::seconds(second));
        earlier[name] = "earlier " + name;
        std::ofstream(backups_ / name, std::ios::binary) << earlier[name];
    }
    auto rom = std::make_shared<RomBootloaderDevice>(RomOptions{.calibration = calibration_});
    const Ended run =
        Run(rom, {"--chip-id", "0x48CD:12", "--keep-eeprom", "--backup-dir", backups_.string(), "--quiet"});
    EXPECT_EQ(run.code, 0) << run.err;

    auto files = FilesIn(backups_);
    for (const auto& [name, bytes] : earlier) {
        EXPECT_EQ(files[name], bytes) << name;
        files.erase(name);
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files.begin()->first, std::regex("eeprom-" + chipHex_ + "-.*Z-2\\.bin")))
        << files.begin()->first;
    EXPECT_EQ(files.begin()->second, calibration_);
}

TEST_F(LoadRomKeep, AnEepromErasedAlreadyIsKeptWithAWarning) {
    auto rom = std::make_shared<RomBootloaderDevice>(RomOptions{.calibration = std::string(kKept, '\0')});
    const Ended run = Run(rom, {"--keep-eeprom", "--backup-dir", backups_.string()});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err,
              "The EEPROM holds 0x00 only: an earlier run may have erased it already. An earlier backup can be "
              "written back with --restore-eeprom\n");
    ASSERT_EQ(FilesIn(backups_).size(), 1u);
    EXPECT_EQ(FilesIn(backups_).begin()->second, std::string(kKept, '\0'));
    EXPECT_EQ(rom->GlobalErases(), 1);
}

TEST_F(LoadRomKeep, RestoreWritesTheBackupBackAndNothingElse) {
    const std::string backup = (dir_ / "eeprom-kept.bin").string();
    std::ofstream(backup, std::ios::binary) << calibration_;
    const std::string log = (dir_ / "restore.jsonl").string();
    struct Case {
        const char* what;
        RomOptions device;
        int code;
        std::string last;
        bool restored;
    };
    const Case cases[] = {
        {"written back", {}, 0, "EEPROM restored", true},
        {"a write refused", {.refuseWriteAt = kEeprom + 0x100}, 1, "-----Failed------", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(log);
        auto rom = std::make_shared<RomBootloaderDevice>(c.device);
        const Ended run = Run(rom, {"--restore-eeprom", backup, "--log", log});
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_EQ(run.out, c.last + "\n");
        EXPECT_EQ(rom->Memory(kEeprom, kKept) == calibration_, c.restored);
        EXPECT_EQ(rom->Memory(kEeprom + kKept, 1), kOldByte);
        EXPECT_EQ(rom->GlobalErases() + rom->EepromErases(), 0);
        EXPECT_FALSE(rom->GoReceived());

        const auto lines = testing::LogLines(log);
        ASSERT_EQ(lines.size(), 1u);
        testing::ExpectLineShape(lines[0]);
        EXPECT_EQ(lines[0].value("operation", ""), "restore-eeprom");
        EXPECT_EQ(lines[0].value("file", ""), backup);
        EXPECT_EQ(lines[0].value("size", 0), static_cast<int>(kKept));
        EXPECT_EQ(lines[0].value("sha256", ""), testing::Sha256Of(calibration_));
        EXPECT_EQ(lines[0].value("result", ""), c.last);
        EXPECT_EQ(lines[0].value("bytes", -1), c.restored ? static_cast<int>(kKept) : 0);
        EXPECT_EQ(lines[0].value("exit", -1), c.code);
    }
}

TEST_F(LoadRomKeep, RestoreRefusesABackupOfAnotherSizeBeforeTheLine) {
    struct Case {
        const char* what;
        std::size_t size;  // 0 with no file at all
        bool exists;
        std::string err;
    };
    const std::string backup = (dir_ / "backup.bin").string();
    const auto holds = [&backup](const char* bytes) {
        return "The EEPROM backup " + backup + " holds " + bytes + " bytes; a backup of the EEPROM holds 1024\n";
    };
    const Case cases[] = {
        {"one byte short", kKept - 1, true, holds("1023")},
        {"one byte long", kKept + 1, true, holds("1025")},
        {"empty", 0, true, holds("0")},
        {"missing", 0, false, "Cannot read the EEPROM backup " + backup + ": No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(backup);
        if (c.exists) std::ofstream(backup, std::ios::binary) << std::string(c.size, 'x');
        auto rom = std::make_shared<RomBootloaderDevice>();
        const auto line = LineFor(rom);
        const Ended run = LoadToTheEnd({"--rom", "--port", line->Path(), "--restore-eeprom", backup});
        EXPECT_EQ(run.code, 3);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(line->Received().empty()) << "nothing reached the line";
    }
}

TEST(EepromBackup, NameTellsTheChipOrThePortAndTheTimeInUtc) {
    using namespace std::chrono;
    const auto at = sys_days{year{2026} / 12 / 11} + hours{0} + minutes{40} + seconds{5} + milliseconds{999};
    struct Case {
        std::string chip;
        std::string port;
        std::string name;
    };
    const Case cases[] = {
        {"0017004209565434383330350", "/dev/ttyUSB0", "eeprom-0017004209565434383330350-20261211T004005Z.bin"},
        {"", "/dev/ttyUSB0", "eeprom-dev-ttyUSB0-20261211T004005Z.bin"},
        {"", "COM3:", "eeprom-COM3-20261211T004005Z.bin"},
        {"", "\\\\.\\COM12", "eeprom-COM12-20261211T004005Z.bin"},
        {"", "usb:A1B2 C3", "eeprom-usb-A1B2-C3-20261211T004005Z.bin"},
        {"", "../..", "eeprom-port-20261211T004005Z.bin"},
    };
    for (const Case& c : cases) EXPECT_EQ(BackupName(c.chip, c.port, at), c.name) << c.port;
}

TEST(EepromBackup, ANameTakenGetsTheNextNumberAndTheFileItHasStays) {
    testing::TempFolder folder("veltra-backup");
    const std::string dir = folder.Path().string();
    std::vector<std::string> paths;
    for (const char* area : {"first", "second", "third"}) {
        std::string path;
        std::string problem;
        ASSERT_TRUE(WriteBackup(dir, "eeprom-x.bin", area, path, problem)) << problem;
        paths.push_back(path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{dir + "/eeprom-x.bin", dir + "/eeprom-x-2.bin",
                                                dir + "/eeprom-x-3.bin"}));
    const std::map<std::string, std::string> kept{
        {"eeprom-x.bin", "first"}, {"eeprom-x-2.bin", "second"}, {"eeprom-x-3.bin", "third"}};
    EXPECT_EQ(FilesIn(folder.Path()), kept) << "each whole, and no temporary file";
}

}  // namespace
}  // namespace veltra::terminal
