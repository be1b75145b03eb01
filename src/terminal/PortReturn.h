#pragma once
// --loop --reconnect: a port whose device has gone (an adapter pulled out, a
// hub reset by a spark) is waited for to come back, and opened again with
// every check of an open, so that a glitch does not end the line for the day.
#include <chrono>
#include <string>

#include "serial/SerialPort.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {

// Tries to open `name` again (with the line `settings`), four times a second, until it opens, `bound`
// has passed, or an interrupt comes. "Back" means the name opens again: a
// device name that reappears, or for usb:SERIAL and usb-path:PATH the same
// adapter under whatever name the system gives it now. Shows the wait in the
// port's live line and says when the port is back; the failed tries stay
// quiet, and when the port does not come back within the bound the boxes of
// the last try are written with the line that says so. True once it is open.
bool AwaitPortReturn(SerialPort& port, TerminalOperator& op, const std::string& name, const std::string& settings,
                     std::chrono::seconds bound);

}  // namespace veltra::terminal
