// What the operator is shown during a download, step by step and in order:
// for each accepted block its reply, its frame and the bar, whatever the
// download overlaps with the line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "loader/Download.h"
#include "protocol/TrafficLog.h"
#include "sim/LoaderDevice.h"
#include "sim/SimDevice.h"
#include "support/RecordingOperator.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;

// Every step from the start of the transfer, as one list.
class StepOperator : public testing::RecordingOperator {
public:
    void SetStatusLine(const std::string& text) override {
        RecordingOperator::SetStatusLine(text);
        if (text == "Downloading") recording_ = true;
        Note("status " + text);
    }
    void SetTrafficLog(const std::string& text) override {
        RecordingOperator::SetTrafficLog(text);
        Note("traffic " + text);
    }
    void SetReplyBox(const std::string& text) override {
        RecordingOperator::SetReplyBox(text);
        Note("reply " + text);
    }
    void SetProgressValue(int value) override {
        RecordingOperator::SetProgressValue(value);
        Note("progress " + std::to_string(value));
    }
    void ShowMessage(const Message& message) override {
        RecordingOperator::ShowMessage(message);
        Note("message " + message.text);
    }

    std::vector<std::string> steps;

private:
    void Note(std::string step) {
        if (recording_) steps.push_back(std::move(step));
    }
    bool recording_ = false;
};

std::string Shown(const ByteString& frame) { return "traffic " + HexForm(frame) + "\r\n\r\n" + CleanStr(frame); }

struct Case {
    const char* what;
    std::size_t fileSize;
    int refuseBlock;
    // The steps, with "F<n>" for the traffic text of the n-th frame received.
    std::vector<std::string> steps;
};

TEST(DownloadDisplay, EachBlockIsShownOnceInOrder) {
    const std::string accepted = "reply 55 70 41 D ,";
    const Case cases[] = {
        {"three blocks", 150, 0,
         {"status Downloading", accepted, "F1", "progress 64", accepted, "F2", "progress 128", accepted, "F3",
          "progress 150", "status Successful - 192 Bytes"}},
        {"one block", 10, 0, {"status Downloading", accepted, "F1", "progress 10", "status Successful - 64 Bytes"}},
        {"second block refused", 300, 2,
         {"status Downloading", accepted, "F1", "progress 64", "reply 55 70 1F D ,", "message Ошибка 1F !!!!", "F2",
          "message  data 2,part error", "status Failed - 64 Bytes"}},
        {"first block refused", 300, 1,
         {"status Downloading", "reply 55 70 1F D ,", "message Ошибка 1F !!!!", "F1", "message  data 1,part error",
          "status Failed - 0 Bytes"}},
    };
    const fs::path dir = fs::temp_directory_path() / ("veltra-display-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir / "dev.bin";
        std::ofstream(path, std::ios::binary) << std::string(c.fileSize, '\x5A');

        sim::LoaderOptions options;
        options.refuseBlock = c.refuseBlock;
        auto loader = std::make_shared<sim::LoaderDevice>(options);
        sim::SimDevice device(loader);
        StepOperator op;
        op.progressMaximum = static_cast<int>(c.fileSize);
        SerialPort port(op);
        port.SetDeviceNameMap([&](const std::string&) { return device.Path(); });
        ASSERT_TRUE(port.OpenPort("COM3:", "19200,n,8,1"));
        ByteString wrs;
        RunDownload(port, op, wrs, FirmwareChoice{path.string(), dir.string() + "/", static_cast<std::int64_t>(c.fileSize)});

        const std::vector<ByteString> frames = loader->Frames();
        std::vector<std::string> expected;
        for (const std::string& step : c.steps) {
            expected.push_back(step[0] == 'F' ? Shown(frames.at(std::stoul(step.substr(1)) - 1)) : step);
        }
        EXPECT_EQ(op.steps, expected);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace veltra
