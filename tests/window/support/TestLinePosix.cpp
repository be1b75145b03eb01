#include "window/support/TestLine.h"

#include "sim/PtyPair.h"

struct TestLine::Hold {
    veltra::sim::PtyPair pty;
};

TestLine::TestLine() : hold_(std::make_unique<Hold>()), path_(hold_->pty.SlavePath()) {}

TestLine::~TestLine() = default;

std::string TestLine::MissingDevicePath(const std::string& port) { return "/nonexistent/tty-" + port; }

std::string TestLine::MissingDeviceProblem(const std::string& devicePath) {
    return "No such device: " + devicePath + " is not there (is the adapter plugged in?).";
}
