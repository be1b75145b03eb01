#pragma once
// veltra-load run to its end as a child process, against a simulated device
// of this process on a real pseudo-terminal. Its output goes to pipes, so it
// writes plain lines: no progress line and no '\r'.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "serial/ByteString.h"
#include "sim/SimDevice.h"
#include "support/ChildProgram.h"

namespace veltra::testing {

// Generous bound for anything that must merely end, never a measurement.
inline constexpr auto kLoadPatience = std::chrono::seconds(60);

// The device's line in this process. It must not hold its own line: the
// program refuses a port that another process holds open.
inline std::unique_ptr<sim::SimDevice> LineFor(std::shared_ptr<sim::Personality> personality,
                                               sim::DeviceOptions options = {}) {
    options.holdLine = false;
    return std::make_unique<sim::SimDevice>(std::move(personality), options);
}

// What a device takes of a file that ends inside a block: the file, then
// 0xFF up to the end of its last 64-byte block.
inline ByteString Padded(ByteString bytes) {
    bytes.resize((bytes.size() + 63) / 64 * 64, '\xFF');
    return bytes;
}

struct Ended {
    int code = -1;
    std::string out;
    std::string err;
};

inline Ended LoadToTheEnd(const std::vector<std::string>& args) {
    ChildProgram load(VELTRA_LOAD_PROGRAM, args);
    Ended run;
    run.code = load.Finish(kLoadPatience);
    run.out = load.Output();
    run.err = load.ErrorOutput();
    return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A pipe gets plain lines only.
inline void ExpectPlain(const Ended& run) {
    EXPECT_EQ(run.out.find('\r'), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
}

}  // namespace veltra::testing
