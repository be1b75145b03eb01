#pragma once
// What veltra-load does for a command line, through the core and a terminal
// operator: list the ports, send the test block, or load a file once or into
// one device after another.
#include <ostream>
#include <string>
#include <vector>

#include "serial/PortList.h"
#include "terminal/CommandLine.h"

namespace veltra::terminal {

// What the program opens for a port name: a path beginning with '/' as it
// stands; "usb:SERIAL" and "usb-path:PATH" the node of that USB adapter as
// the system names it at this open ("" when no adapter, or more than one,
// answers to it); any other name as the window opens it.
std::string TerminalDeviceName(const std::string& portName);

// The last column of --list for an adapter whose serial number another
// adapter present reports too: "usb:SERIAL" cannot pick it.
inline constexpr char kSharedSerialMark[] = "duplicate-serial";

// One line of --list, tab-separated: name, device, description (the columns
// of the list before adapters were told apart, kept first for what reads
// them), the adapter's USB serial number, its USB path, its by-id links, its
// by-path links (several separated by a space), then kSharedSerialMark or
// nothing. Columns the system tells nothing for are empty.
std::string PortListLine(const PortEntry& entry);

// Throws UsageError for a port named by its USB adapter in a way that cannot
// pick one port: on a system that takes no such names, with nothing after
// "usb:" or "usb-path:", or answered by several ports present (adapters
// sharing a serial number, or the ports of one multi-port adapter). The
// message names those ports. A name no adapter answers to passes: it opens
// like a missing port.
void RefuseUnclearAdapterNames(const std::vector<std::string>& ports, const DeviceTree& tree = {});

// Prints to `out` and `err`; returns the exit code. `columns`: the width of
// the terminal `out` is, where progress and live lines are redrawn in place;
// 0 when it is none. Throws UsageError for a command line that only the
// system can find wrong (two names of one port, an adapter name that several
// ports answer to).
int RunLoadCommand(const LoadCommand& command, std::ostream& out, std::ostream& err, int columns);

}  // namespace veltra::terminal
