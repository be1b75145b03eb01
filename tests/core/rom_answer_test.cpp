// The bootloader's answer byte ends each step's wait, and nothing that
// arrives around it (noise in the same burst, a late second byte) passes for
// the answer to a later frame. Over a real pseudo-terminal, against a
// scripted far end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rombootloader/BootloaderExchange.h"
#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/FlashingRun.h"
#include "rombootloader/ImageTransfer.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/ScriptedDevice.h"
#include "support/Bytes.h"
#include "support/SimLink.h"

namespace veltra::rom {
namespace {

using namespace std::chrono_literals;
using sim::Piece;
using sim::Reply;
using testing::Bytes;
using testing::SimLink;
using veltra::kAck;

const ByteString kWrite = Command(kWriteMemory);
const ByteString kGoFrame = Command(kGo);

struct Case {
    const char* what;
    Reply firstReply;                  // what the far end answers the first frame
    std::uint8_t firstAnswer;          // what the run must take as its answer
    std::chrono::milliseconds settle;  // before the second frame: time for a late byte to come
};

// Each case sends two write commands; the second is always answered 0x79 at
// once, so anything else taken for its answer came from around the first.
TEST(RomAnswer, TheAnswerByteEndsTheWaitAndNothingAroundItAnswersTheNextFrame) {
    const std::vector<Case> cases = {
        {"a plain acknowledgement", {{Bytes({0x79})}}, kAck, 0ms},
        {"a refusal", {{Bytes({0x1F})}}, 0x1F, 0ms},
        {"noise in the same burst after the answer", {{Bytes({0x79, 0x1F, 0x00})}}, kAck, 0ms},
        {"a late second byte", {{Bytes({0x79})}, {Bytes({0x1F}), 30ms}}, kAck, 300ms},
        {"an answer late but within its ceiling", {{Bytes({0x79}), 300ms}}, kAck, 0ms},
        {"silence up to the ceiling", {}, kNoAnswer, 0ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto device = std::make_shared<sim::ScriptedDevice>();
        device->On(kWrite, c.firstReply).On(kWrite, {{Bytes({0x79})}});
        SimLink link(device);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SendFrame(link.port, link.wrs, kWrite, Step::Command), c.firstAnswer);
        // Generous: the answer must end the wait long before this ceiling would.
        if (c.firstAnswer != kNoAnswer) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, CeilingOf(Step::Command));
        }
        std::this_thread::sleep_for(c.settle);
        EXPECT_EQ(SendFrame(link.port, link.wrs, kWrite, Step::Command), kAck);
        EXPECT_EQ(link.wrs, kWrite) << "the request buffer holds the frame sent";
        EXPECT_EQ(device->Matches(), (std::vector<bool>{true, true}));
        EXPECT_TRUE(link.op.messages.empty());
    }
}

TEST(RomAnswer, CeilingsBoundEachKindOfStep) {
    // The erase must outlast a whole-memory erase; the others answer at once.
    EXPECT_GE(CeilingOf(Step::Erase), 5s);
    EXPECT_GE(CeilingOf(Step::Write), 500ms);
    EXPECT_LE(CeilingOf(Step::Go), CeilingOf(Step::Command));
}

TEST(RomAnswer, ReadMemoryGathersTheBytesOverSeveralPiecesAndDropsWhatCameBefore) {
    ByteString data;
    for (int i = 0; i < 128; ++i) AppendByte(data, static_cast<std::uint8_t>(i * 7));
    const ByteString address = AddressFrame(0x9080);
    struct ReadCase {
        const char* what;
        Reply countReply;
        std::optional<ByteString> expected;
    };
    const std::vector<ReadCase> cases = {
        {"answer and bytes in one burst", {{Bytes({0x79}) + data}}, data},
        {"answer, then the bytes in two pieces",
         {{Bytes({0x79})}, {data.substr(0, 50), 20ms}, {data.substr(50), 20ms}},
         data},
        {"a refused count", {{Bytes({0x1F})}}, std::nullopt},
        {"fewer bytes than asked for", {{Bytes({0x79}) + data.substr(0, 100)}}, std::nullopt},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto device = std::make_shared<sim::ScriptedDevice>();
        // A stray byte after the command's answer must not answer the address.
        device->On(Command(kReadMemory), {{Bytes({0x79, 0x1F})}})
            .On(address, {{Bytes({0x79})}})
            .On(Bytes({0x7F, 0x80}), c.countReply);
        SimLink link(device);
        EXPECT_EQ(ReadMemory(link.port, link.wrs, 0x9080, 128), c.expected);
        EXPECT_EQ(device->Matches(), (std::vector<bool>{true, true, true}));
    }
}

TEST(RomAnswer, ALostPortEndsTheStepAtOnceWithNoAnswer) {
    auto device = std::make_shared<sim::ScriptedDevice>();
    device->On(kGoFrame, {{Bytes({0x79})}});
    SimLink link(device);
    link.device->Stop();
    link.device.reset();  // the far end closes: the line hangs up
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendFrame(link.port, link.wrs, kGoFrame, Step::Erase), kNoAnswer);
    EXPECT_TRUE(link.port.Lost());
    EXPECT_LT(std::chrono::steady_clock::now() - start, CeilingOf(Step::Erase));
}

// The bootloader with noise after every answer, in the same burst.
class NoisyBootloader : public sim::Personality {
public:
    explicit NoisyBootloader(std::shared_ptr<sim::RomBootloaderDevice> rom) : rom_(std::move(rom)) {}
    Reply OnBytes(const ByteString& bytes) override {
        Reply reply = rom_->OnBytes(bytes);
        if (!reply.empty()) reply.back().bytes += Bytes({0x1F, 0x00, 0x79});
        return reply;
    }

private:
    std::shared_ptr<sim::RomBootloaderDevice> rom_;
};

TEST(RomAnswer, NoiseAfterEveryAnswerChangesNothingTheRunSendsOrWrites) {
    namespace fs = std::filesystem;
    const fs::path path = fs::temp_directory_path() / ("veltra-rom-noise-" + std::to_string(::getpid()) + ".bin");
    std::string image(kHeaderSize + kRecordSize * 162 - 30, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + 5);
    image[static_cast<std::size_t>(kProgramOffset)] = static_cast<char>(kProgramMarker);
    std::ofstream(path, std::ios::binary) << image;

    std::vector<ByteString> frames[2];
    ByteString memory[2];
    for (int noisy = 0; noisy < 2; ++noisy) {
        SCOPED_TRACE(noisy ? "noisy" : "clean");
        auto rom = std::make_shared<sim::RomBootloaderDevice>();
        SimLink link(noisy ? std::shared_ptr<sim::Personality>(std::make_shared<NoisyBootloader>(rom)) : rom);
        const FirmwareChoice choice{path.string(), path.parent_path().string() + "/", static_cast<std::int64_t>(image.size())};
        EXPECT_EQ(RunFlashing(link.port, link.op, link.wrs, choice), FlashingOutcome::Written);
        EXPECT_TRUE(link.op.messages.empty());
        frames[noisy] = rom->Frames();
        memory[noisy] = rom->Memory(kProgramBase, 2 * kRecordSize);
    }
    fs::remove(path);
    EXPECT_EQ(frames[1], frames[0]);
    EXPECT_EQ(memory[1], memory[0]);
    EXPECT_EQ(memory[0].substr(0, kRecordSize), image.substr(static_cast<std::size_t>(kProgramOffset), kRecordSize));
}

}  // namespace
}  // namespace veltra::rom
