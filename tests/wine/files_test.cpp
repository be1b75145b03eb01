// The file work on Windows: firmware files read whole, and the scrambled file
// written beside its firmware file, in folders and files with non-ASCII
// names, as operators name them. No device is needed.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "Com1.h"
#include "firmware/FileChoice.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ScrambledFile.h"
#include "support/ScrambledFileModel.h"

namespace veltra::wine {
namespace {

namespace fs = std::filesystem;
using testing::ExpectedScrambledFile;
using testing::RecordingOperator;

std::set<std::u8string> Listing(const fs::path& folder) {
    std::set<std::u8string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().u8string());
    return names;
}

FirmwareChoice ChoiceOf(const fs::path& path) {
    FirmwareChoice choice;
    choice.path = Utf8(path);
    choice.folder = FolderOf(choice.path);
    return choice;
}

// A scrambled, a blank and a short block, then the empty last read.
const ByteString kFirmware = Pattern(64) + ByteString(64, '\xFF') + Pattern(36, 3);

// An older scrambled file of the same name, longer than the new one, goes
// whole: no byte of it is left at the end, and no temporary file beside.
TEST(Files, ScrambledFileInACyrillicFolderMatchesTheFormatAndReplacesTheOlderOne) {
    TempFolder top;
    const fs::path folder = top.Path() / u8"прошивка";
    fs::create_directory(folder);
    const fs::path firmware = folder / u8"устройство.bin";
    const fs::path scrambled = folder / u8"устройство.cri";
    WriteAll(firmware, kFirmware);
    WriteAll(scrambled, ByteString(1000, '\xAA'));

    RecordingOperator op;
    op.options = {"18", "52", "86", "120"};
    FillerSource filler;
    EXPECT_TRUE(ConvertToScrambledFile(op, ChoiceOf(firmware), filler));
    EXPECT_TRUE(op.messages.empty()) << op.messages.front().text;

    FillerSource model;
    const ByteString written = ReadAll(scrambled);
    EXPECT_EQ(written.size(), 4 * kScrambleBlockSize);
    EXPECT_EQ(written, ExpectedScrambledFile(kFirmware, {18, 52, 86, 120}, model));
    EXPECT_EQ(ByteAt(written, 0), 0x01);
    EXPECT_EQ(written.substr(16, 3), "\x40\x40\x40");
    EXPECT_EQ(Listing(folder), (std::set<std::u8string>{u8"устройство.bin", u8"устройство.cri"}));
    EXPECT_EQ(ReadAll(firmware), kFirmware) << "the firmware file stays as it was";
}

TEST(Files, FirmwareImageIsReadWholeFromACyrillicPath) {
    TempFolder top(u8"прошивка");
    const std::string path = top.Write(u8"образ.bin", kFirmware);
    RecordingOperator op;
    const auto image = LoadFirmwareImage(op, path);
    ASSERT_TRUE(image.has_value()) << op.messages.front().text;
    EXPECT_EQ(ByteString(image->bytes.begin(), image->bytes.end()), kFirmware);
    EXPECT_TRUE(op.messages.empty());
}

TEST(Files, FirmwareImageRefusesWhatIsNoFileWithTheReason) {
    TempFolder top(u8"прошивка");
    fs::create_directory(top.Path() / u8"папка.bin");
    struct Case { const char* what; std::string path; std::string reason; };
    const Case cases[] = {
        {"a folder", Utf8(top.Path() / u8"папка.bin"), "it is a folder, not a file"},
        {"a missing file", Utf8(top.Path() / u8"нет.bin"), ""},  // the system's words
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingOperator op;
        EXPECT_FALSE(LoadFirmwareImage(op, c.path).has_value());
        ASSERT_EQ(op.messages.size(), 1u);
        const std::string& text = op.messages[0].text;
        const std::string start = "Cannot open firmware file " + c.path + ": ";
        ASSERT_EQ(text.rfind(start, 0), 0u) << text;
        const std::string reason = text.substr(start.size());
        if (!c.reason.empty()) {
            EXPECT_EQ(reason, c.reason);
        }
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find('\n'), std::string::npos) << "one line: " << reason;
        EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
    }
}

}  // namespace
}  // namespace veltra::wine
