#include "window/support/TestLine.h"

// COM1 is there for the whole run of the test program; nothing to hold.
struct TestLine::Hold {};

TestLine::TestLine() : path_("COM1:") {}

TestLine::~TestLine() = default;

// The test prefix has no COM port beyond COM1, and Windows itself none named
// like this.
std::string TestLine::MissingDevicePath(const std::string& port) {
    return "\\\\.\\VeltraNoPort" + port.substr(0, port.find(':'));
}

std::string TestLine::MissingDeviceProblem(const std::string&) {
    return "There is no such port on this machine (is the adapter plugged in?).";
}
