// Every operation works on one image of the firmware file, read whole before
// anything is sent or written: files that are no firmware are refused by name
// and reason, and a file changed on disk during a run changes nothing sent.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firmware/FileChoice.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ScrambledFile.h"
#include "loader/Download.h"
#include "rombootloader/FlashingRun.h"
#include "sim/LoaderDevice.h"
#include "sim/RomBootloaderDevice.h"
#include "support/SimLink.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::RecordingOperator;
using testing::SimLink;

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Pattern(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s.push_back(static_cast<char>((i * 131 + 7) % 251));
    return s;
}

FirmwareChoice ChoiceOf(const fs::path& path, std::int64_t length = 0) {
    return {path.string(), path.parent_path().string() + "/", length};
}

class FirmwareFolder : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veltra-snapshot-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

// Names that no operation may read as firmware, each made in the test's folder.
struct BadFile {
    const char* what;
    std::function<fs::path(const fs::path& dir)> make;
    std::string reason;
    bool refusedAtChoice;  // the choice only looks at the kind and size, it reads nothing
};

fs::path Socket(const fs::path& dir) {
    const fs::path path = dir / "socket.bin";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the socket's name stays in the folder
    return path;
}

const std::vector<BadFile>& BadFiles() {
    static const std::vector<BadFile> files = {
        {"missing", [](const fs::path& dir) { return dir / "gone.bin"; }, std::strerror(ENOENT), true},
        {"folder",
         [](const fs::path& dir) {
             fs::create_directory(dir / "folder.bin");
             return dir / "folder.bin";
         },
         "it is a folder, not a file", true},
        {"named pipe",
         [](const fs::path& dir) {
             EXPECT_EQ(::mkfifo((dir / "pipe.bin").c_str(), 0600), 0);
             return dir / "pipe.bin";
         },
         "it is a named pipe, not a regular file", true},
        {"endless device",
         [](const fs::path& dir) {
             fs::create_symlink("/dev/zero", dir / "zero.bin");
             return dir / "zero.bin";
         },
         "it is a device, not a regular file", true},
        {"socket", Socket, "it is a socket, not a regular file", true},
        {"too large",
         [](const fs::path& dir) {
             WriteAll(dir / "huge.bin", "");
             fs::resize_file(dir / "huge.bin", static_cast<std::uintmax_t>(kMaxFirmwareBytes) + 1);  // sparse
             return dir / "huge.bin";
         },
         "it holds 268435457 bytes, more than the 268435456 bytes a firmware file may have", true},
        {"opens but cannot be read",
         [](const fs::path& dir) {
             // A regular file of length 0 whose first read fails with EIO.
             fs::create_symlink("/proc/self/mem", dir / "mem.bin");
             return dir / "mem.bin";
         },
         std::strerror(EIO), false},
    };
    return files;
}

TEST_F(FirmwareFolder, ChoiceRefusesWhatNoOperationCouldReadAndKeepsThePreviousChoice) {
    WriteAll(dir_ / "good.bin", Pattern(100));
    for (const BadFile& bad : BadFiles()) {
        SCOPED_TRACE(bad.what);
        const fs::path path = bad.make(dir_);
        RecordingOperator op;
        FirmwareChoice choice = ChoiceOf(dir_ / "good.bin", 100);
        op.openAnswers.push_back(path.string());
        ChooseFirmwareFile(op, choice);

        if (bad.refusedAtChoice) {
            ASSERT_EQ(op.MessageTexts(), std::vector<std::string>{"Cannot open firmware file " + path.string() + ": " + bad.reason});
            EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
            EXPECT_EQ(choice.path, (dir_ / "good.bin").string());
            EXPECT_EQ(choice.length, 100);
            EXPECT_EQ(op.fileNameCaption, "No Fille for downloading");
            EXPECT_TRUE(op.statusLines.empty());
        } else {
            EXPECT_TRUE(op.messages.empty());
            EXPECT_EQ(choice.path, path.string());
        }
    }
}

TEST_F(FirmwareFolder, RunShowsTheReasonAndFileErrorBeforeTheHandshake) {
    for (const BadFile& bad : BadFiles()) {
        SCOPED_TRACE(bad.what);
        const fs::path path = bad.make(dir_);
        SimLink link(std::make_shared<sim::LoaderDevice>());
        RunDownload(link.port, link.op, link.wrs, ChoiceOf(path));

        EXPECT_EQ(link.op.MessageTexts(), std::vector<std::string>{"Cannot open firmware file " + path.string() + ": " + bad.reason});
        EXPECT_EQ(link.op.statusLines, (std::vector<std::string>{"Wait connecting", "File error"}));
        EXPECT_FALSE(link.device->WaitForReceived(1, 100ms)) << "nothing reaches the device";
    }
}

TEST_F(FirmwareFolder, FlashingShowsTheReasonAndSendsNothing) {
    for (const BadFile& bad : BadFiles()) {
        SCOPED_TRACE(bad.what);
        const fs::path path = bad.make(dir_);
        auto rom = std::make_shared<sim::RomBootloaderDevice>();
        SimLink link(rom);
        rom::RunFlashing(link.port, link.op, link.wrs, ChoiceOf(path));

        EXPECT_EQ(link.op.MessageTexts(), std::vector<std::string>{"Cannot open firmware file " + path.string() + ": " + bad.reason});
        EXPECT_EQ(link.op.LastTrafficLog(), "Running !  ");
        EXPECT_FALSE(link.device->WaitForReceived(1, 100ms)) << "nothing reaches the device";
        EXPECT_EQ(rom->GlobalErases(), 0);
    }
}

TEST_F(FirmwareFolder, ConversionShowsTheReasonAndWritesNothing) {
    for (const BadFile& bad : BadFiles()) {
        SCOPED_TRACE(bad.what);
        const fs::path path = bad.make(dir_);
        const auto before = std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
        RecordingOperator op;
        FillerSource filler;
        EXPECT_FALSE(ConvertToScrambledFile(op, ChoiceOf(path), filler));

        EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"Cannot open firmware file " + path.string() + ": " + bad.reason});
        EXPECT_FALSE(fs::exists(ScrambledFileName(path.string())));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), before);
    }
}

// Plays the device's loader, and changes the firmware file on disk the moment
// the first wake-up arrives: after the operation started, before any block.
class ChangesFileOnWakeUp : public sim::Personality {
public:
    ChangesFileOnWakeUp(std::shared_ptr<sim::Personality> inner, std::function<void()> change)
        : inner_(std::move(inner)), change_(std::move(change)) {}

    sim::Reply OnBytes(const ByteString& bytes) override {
        if (change_ && bytes.find('\x7F') != ByteString::npos) std::exchange(change_, nullptr)();
        return inner_->OnBytes(bytes);
    }

private:
    std::shared_ptr<sim::Personality> inner_;
    std::function<void()> change_;
};

TEST_F(FirmwareFolder, FileChangedDuringRunChangesNothingSent) {
    const std::string original = Pattern(1000);  // 15 blocks of 64 and one of 40
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
    };
    const std::vector<Case> cases = {
        {"shrinks", [](const fs::path& path) { fs::resize_file(path, 100); }},
        {"grows", [](const fs::path& path) { std::ofstream(path, std::ios::app) << Pattern(4000); }},
        {"emptied", [](const fs::path& path) { fs::resize_file(path, 0); }},
        {"removed", [](const fs::path& path) { fs::remove(path); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir_ / "dev.bin";
        WriteAll(path, original);
        auto loader = std::make_shared<sim::LoaderDevice>();
        SimLink link(std::make_shared<ChangesFileOnWakeUp>(loader, [&] { c.change(path); }));
        RunDownload(link.port, link.op, link.wrs, ChoiceOf(path, 1000));

        EXPECT_EQ(link.op.LastStatus(), "Successful - 1024 Bytes");
        EXPECT_TRUE(link.op.messages.empty());
        const std::vector<ByteString> frames = loader->Frames();
        ASSERT_EQ(frames.size(), 16u);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(ByteAt(frames[i], 0), i + 1 < frames.size() ? kMarkerMore : kMarkerClosing) << "block " << i + 1;
        }
        EXPECT_EQ(loader->Firmware(), original + std::string(24, '\xFF'));
    }
}

TEST_F(FirmwareFolder, FileChangedDuringFlashingChangesNothingWritten) {
    // The program area's first record only, with its marker: a short run.
    const std::size_t programOffset = 64 + 128 * 160;
    std::string image = Pattern(programOffset + 100);
    image[programOffset] = 0x23;
    const fs::path path = dir_ / "image.bin";
    WriteAll(path, image);
    auto rom = std::make_shared<sim::RomBootloaderDevice>();
    SimLink link(std::make_shared<ChangesFileOnWakeUp>(rom, [&] { fs::resize_file(path, 64); }),
                 testing::kQuickReads);
    rom::RunFlashing(link.port, link.op, link.wrs, ChoiceOf(path));

    EXPECT_EQ(link.op.LastTrafficLog(), "Running !  Ok!     Block 1    -----Succefull------");
    EXPECT_EQ(rom->Memory(0x9000, 128), image.substr(programOffset) + std::string(28, '\xFF'));
}

}  // namespace
}  // namespace veltra
