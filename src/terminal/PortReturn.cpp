#include "terminal/PortReturn.h"

#include <algorithm>
#include <cstdio>

#include "terminal/CommandSteps.h"
#include "terminal/Commands.h"
#include "terminal/Interrupt.h"

namespace veltra::terminal {
namespace {

// An adapter that comes back is found within a quarter of a second; a try
// that finds nothing costs a failed open, nothing on the line.
constexpr std::chrono::milliseconds kTryInterval{250};

std::string Seconds(Clock::duration elapsed) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(elapsed).count());
    return text;
}

}  // namespace

bool AwaitPortReturn(SerialPort& port, TerminalOperator& op, const std::string& name, const std::string& settings,
                     std::chrono::seconds bound) {
    // The loss released the port already; a close keeps it so for certain.
    port.ClosePort();
    op.ShowWait("port gone, waiting up to " + std::to_string(bound.count()) + " s for it to come back");
    const auto start = Clock::now();
    const auto deadline = start + bound;
    bool back = false;
    while (!Interrupted()) {
        op.HoldMessages(true);
        if (OpenDevicePort(port, op, name, settings)) {
            back = true;
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || PauseUnlessInterrupted(std::min(kTryInterval, left))) break;
    }
    op.HoldMessages(false);
    if (back) {
        op.Say("port back as " + TerminalDeviceName(name) + " after " + Seconds(Clock::now() - start));
        return true;
    }
    if (Interrupted()) {
        // The "^C" of the terminal keeps its line.
        op.FreshTerminalLine();
        op.Complain("Interrupted: the port " + name + " has not come back");
        return false;
    }
    op.WriteHeldMessages();
    op.Complain("The port " + name + " has not come back within " + std::to_string(bound.count()) + " s");
    return false;
}

}  // namespace veltra::terminal
