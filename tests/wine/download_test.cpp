// "RUN" over the Win32 port: the file chosen through the dialog seam, the
// device's loader (veltra-sim) woken and fed block frames on COM1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Com1.h"
#include "firmware/FileChoice.h"
#include "loader/Download.h"

namespace veltra::wine {
namespace {

struct DownloadSeen {
    std::vector<std::string> statusLines;
    std::vector<std::string> messages;
    std::vector<int> progress;
    int progressMaximum = 0;
};

// Chooses a file of `length` pattern bytes, then presses RUN.
DownloadSeen Download(std::size_t length) {
    TempFolder folder;
    Com1 com;
    EXPECT_TRUE(com.Open()) << com.Shown();
    FirmwareChoice choice;
    com.op.openAnswers.push_back(folder.Write("dev.bin", Pattern(length)));
    ChooseFirmwareFile(com.op, choice);
    RunDownload(com.port, com.op, com.wrs, choice);
    return {com.op.statusLines, com.op.MessageTexts(), com.op.progressValues, com.op.progressMaximum};
}

// 1000 bytes: 15 blocks of 64 and a closing block of 40, padded.
TEST(Download, ThousandByteFileIsLoadedInSixteenBlocks) {
    const DownloadSeen run = Download(1000);
    EXPECT_EQ(run.statusLines, (std::vector<std::string>{"Wait RUN button", "Wait connecting", "Downloading",
                                                         "Successful - 1024 Bytes"}));
    EXPECT_TRUE(run.messages.empty());
    EXPECT_EQ(run.progressMaximum, 1000);
    ASSERT_EQ(run.progress.size(), 16u);
    EXPECT_EQ(run.progress.back(), 1000) << "the bar ends full";
}

// Run against veltra-sim --refuse-block 3.
TEST(RefusedDownload, RefusedThirdBlockEndsTheRunWithWhatTheDeviceTook) {
    const DownloadSeen run = Download(1000);
    EXPECT_EQ(run.statusLines,
              (std::vector<std::string>{"Wait RUN button", "Wait connecting", "Downloading", "Failed - 128 Bytes"}));
    EXPECT_EQ(run.messages, (std::vector<std::string>{"Ошибка 1F !!!!", " data 3,part error"}));
    EXPECT_EQ(run.progress, (std::vector<int>{64, 128}));
}

}  // namespace
}  // namespace veltra::wine
