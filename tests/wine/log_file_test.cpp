// The file of veltra-load --log on Windows: created in a folder with a
// Cyrillic name, appended to by a later run, a torn last line ended before
// the next line, and a folder that is not there refused with the system's
// reason. No device is needed.
#include <gtest/gtest.h>

#include <string>

#include "Com1.h"
#include "terminal/LogFile.h"

namespace veltra::wine {
namespace {

TEST(LogFile, CreatesThenAppendsKeepingTheLinesThere) {
    TempFolder top(u8"журнал");
    const std::string path = Utf8(top.Path() / u8"устройства.jsonl");
    {
        terminal::LogFile log;
        std::string reason;
        ASSERT_TRUE(log.Open(path, reason)) << reason;
        ASSERT_TRUE(log.Append("{\"device\":1}\n", reason)) << reason;
    }
    terminal::LogFile log;
    std::string reason;
    ASSERT_TRUE(log.Open(path, reason)) << reason;
    ASSERT_TRUE(log.Append("{\"device\":2}\n", reason)) << reason;
    EXPECT_EQ(ReadAll(top.Path() / u8"устройства.jsonl"), "{\"device\":1}\n{\"device\":2}\n");
}

// A last line torn by a power cut, a full disk or another program: the next
// line starts a line of its own, the torn bytes stay.
TEST(LogFile, LineAfterATornOneStartsALineOfItsOwn) {
    TempFolder top;
    const std::string path = WriteAll(top.Path() / "devices.jsonl", "{\"device\":1}\n{\"dev");
    terminal::LogFile log;
    std::string reason;
    ASSERT_TRUE(log.Open(path, reason)) << reason;
    ASSERT_TRUE(log.Append("{\"device\":2}\n", reason)) << reason;
    ASSERT_TRUE(log.Append("{\"device\":3}\n", reason)) << reason;
    EXPECT_EQ(ReadAll(top.Path() / "devices.jsonl"), "{\"device\":1}\n{\"dev\n{\"device\":2}\n{\"device\":3}\n");
}

TEST(LogFile, FolderThatIsNotThereIsRefusedWithTheReason) {
    TempFolder top;
    terminal::LogFile log;
    std::string reason;
    EXPECT_FALSE(log.Open(Utf8(top.Path() / "missing" / "devices.jsonl"), reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(log.Append("{}\n", reason));
}

}  // namespace
}  // namespace veltra::wine
