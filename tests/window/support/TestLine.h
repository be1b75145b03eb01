#pragma once
// A line the window's port can open in a test, and the names of lines that
// are not there. On Linux a pseudo-terminal of the test's own; on Windows
// COM1, whose far end is the simulated device that scripts/wine-peer.sh
// starts for the test program (or a device on COM1 when run by hand).
#include <memory>
#include <string>

class TestLine {
public:
    TestLine();
    ~TestLine();
    TestLine(const TestLine&) = delete;
    TestLine& operator=(const TestLine&) = delete;

    // What the port opens to reach the line.
    const std::string& DevicePath() const { return path_; }

    // A device path for `port` where nothing is, and the words the port's
    // open failure gives for it: the system's own, so they differ by system.
    static std::string MissingDevicePath(const std::string& port);
    static std::string MissingDeviceProblem(const std::string& devicePath);

private:
    struct Hold;
    std::unique_ptr<Hold> hold_;  // what keeps the line there, if anything
    std::string path_;
};
