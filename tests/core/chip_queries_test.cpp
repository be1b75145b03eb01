// Get: whether what answered the synchronisation is a ROM bootloader the run
// can use. Over a real pseudo-terminal, against the simulated bootloader, the
// device's own loader and scripted far ends.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "protocol/WakeUp.h"
#include "rombootloader/BootloaderExchange.h"
#include "rombootloader/BootloaderFrames.h"
#include "rombootloader/ChipQueries.h"
#include "sim/LoaderDevice.h"
#include "sim/RomBootloaderDevice.h"
#include "sim/ScriptedDevice.h"
#include "support/Bytes.h"
#include "support/SimLink.h"

namespace veltra::rom {
namespace {

using namespace std::chrono_literals;
using sim::Reply;
using testing::Bytes;
using testing::SimLink;
using veltra::kAck;

const ByteString kGetFrame = Command(kGet);
const ByteString kSync = Bytes({0x7F});

TEST(ChipQueries, TheSimulatedBootloaderAnswersGetProtectedOrNot) {
    for (const bool readProtected : {false, true}) {
        SCOPED_TRACE(readProtected ? "protected" : "unprotected");
        auto rom = std::make_shared<sim::RomBootloaderDevice>(sim::RomOptions{.readProtected = readProtected});
        SimLink link(rom);
        ASSERT_EQ(SendFrame(link.port, link.wrs, kSync, Step::Command), kAck);
        EXPECT_TRUE(AnswersGet(link.port, link.wrs));
        EXPECT_EQ(link.wrs, kGetFrame) << "the request buffer holds the frame sent";
        EXPECT_EQ(rom->Frames(), std::vector<ByteString>{kGetFrame});
        EXPECT_EQ(SendFrame(link.port, link.wrs, Command(kEraseMemory), Step::Command), kAck);
        EXPECT_TRUE(link.op.messages.empty());
    }
}

// Awake, the device's loader takes the Get for the start of a block frame
// and says nothing.
TEST(ChipQueries, TheDevicesLoaderIsNoBootloader) {
    auto loader = std::make_shared<sim::LoaderDevice>();
    SimLink link(loader);
    ASSERT_EQ(SendFrame(link.port, link.wrs, kSync, Step::Command), kAck);
    EXPECT_FALSE(AnswersGet(link.port, link.wrs));
    EXPECT_EQ(loader->HandshakeAttempts(), 1);
    EXPECT_TRUE(loader->Frames().empty());
    EXPECT_TRUE(link.op.messages.empty());
}

TEST(ChipQueries, OnlyAWholeGetReplyWithTheRunsCommandsIsABootloader) {
    struct Case {
        const char* what;
        Reply reply;
        bool bootloader;
    };
    const std::vector<Case> cases = {
        {"the codes in another order, among others, another version",
         {{Bytes({0x79, 0x0B, 0x31, 0x00, 0x01, 0x02, 0x43, 0x11, 0x21, 0x31, 0x63, 0x73, 0x82, 0x92, 0x79})}},
         true},
        {"the reply in pieces",
         {{Bytes({0x79})}, {Bytes({0x05, 0x13, 0x00}), 30ms}, {Bytes({0x11, 0x21, 0x31, 0x43, 0x79}), 30ms}},
         true},
        {"silence", {}, false},
        {"a refusal", {{Bytes({0x1F})}}, false},
        {"the acknowledgement alone", {{Bytes({0x79})}}, false},
        {"a byte before the acknowledgement", {{Bytes({0x00, 0x79, 0x05, 0x13, 0x00, 0x11, 0x21, 0x31, 0x43, 0x79})}},
         false},
        {"fewer bytes than counted", {{Bytes({0x79, 0x05, 0x13, 0x00, 0x11, 0x21, 0x31})}}, false},
        {"no closing acknowledgement", {{Bytes({0x79, 0x05, 0x13, 0x00, 0x11, 0x21, 0x31, 0x43, 0x1F})}}, false},
        {"without Go", {{Bytes({0x79, 0x04, 0x13, 0x00, 0x11, 0x31, 0x43, 0x79})}}, false},
        {"Read Memory only where the version goes", {{Bytes({0x79, 0x03, 0x11, 0x21, 0x31, 0x43, 0x79})}}, false},
        {"the version alone", {{Bytes({0x79, 0x00, 0x13, 0x79})}}, false},
        // Without the line falling silent first, the late 0x79 would answer the next frame.
        {"a refusal, then a stray acknowledgement", {{Bytes({0x1F, 0x00})}, {Bytes({0x79}), 150ms}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto device = std::make_shared<sim::ScriptedDevice>();
        // The next frame's own answer comes late: anything left of the Get reply would come first.
        device->On(kGetFrame, c.reply).On(Command(kWriteMemory), {{Bytes({0x1F}), 300ms}});
        SimLink link(device);
        EXPECT_EQ(AnswersGet(link.port, link.wrs), c.bootloader);
        EXPECT_EQ(SendFrame(link.port, link.wrs, Command(kWriteMemory), Step::Command), 0x1F);
        EXPECT_EQ(device->Matches(), (std::vector<bool>{true, true}));
        EXPECT_TRUE(link.op.messages.empty());
    }
}

}  // namespace
}  // namespace veltra::rom
