#include "serial/PortList.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <string_view>

namespace veltra {
namespace {

// Adapters that report one serial number between them, each at a USB path of
// its own; the ports of one dual converter share theirs and are no clones.
void MarkSharedSerials(std::vector<PortEntry>& ports) {
    for (PortEntry& port : ports) {
        if (port.usbSerial.empty()) continue;
        port.sharedSerial = std::any_of(ports.begin(), ports.end(), [&port](const PortEntry& other) {
            return other.usbSerial == port.usbSerial && other.usbPath != port.usbPath;
        });
    }
}

// The field of a port entry an adapter name compares, and the value it asks
// for; no field for any other name.
struct AdapterKey {
    std::string PortEntry::*field = nullptr;
    std::string_view value;
};

AdapterKey KeyOf(std::string_view portName) {
    for (const auto& [prefix, field] : {std::pair{std::string_view(kUsbSerialPrefix), &PortEntry::usbSerial},
                                        std::pair{std::string_view(kUsbPathPrefix), &PortEntry::usbPath}}) {
        if (portName.substr(0, prefix.size()) == prefix) return {field, portName.substr(prefix.size())};
    }
    return {};
}

}  // namespace

std::vector<PortEntry> ListPorts(const DeviceTree& tree) {
    std::vector<PortEntry> ports;
    for (int n = 1; n <= kFixedComPorts; ++n) {
        PortEntry entry;
        entry.name = "COM" + std::to_string(n) + ":";
        entry.device = DeviceNodeFor(entry.name, tree);
        ports.push_back(std::move(entry));
    }
    // The list is for the operator to choose from: a system record that
    // cannot be read (or memory running out while reading it) leaves the
    // fixed entries.
    try {
        auto beyond = platform::PortsBeyondFixed(tree);
        ports.insert(ports.end(), std::make_move_iterator(beyond.begin()), std::make_move_iterator(beyond.end()));
    } catch (const std::exception&) {
    }
    MarkSharedSerials(ports);
    return ports;
}

bool IsAdapterName(const std::string& portName) { return KeyOf(portName).field != nullptr; }

std::vector<PortEntry> PortsOfAdapter(const std::string& portName, const DeviceTree& tree) {
    const AdapterKey key = KeyOf(portName);
    std::vector<PortEntry> ports;
    // An adapter that tells nothing has an empty serial and path: an empty
    // value would match every such port.
    if (key.field == nullptr || key.value.empty()) return ports;
    for (PortEntry& entry : ListPorts(tree)) {
        if (entry.*key.field == key.value) ports.push_back(std::move(entry));
    }
    return ports;
}

std::string AdapterNode(const std::string& portName, const DeviceTree& tree) {
    const std::vector<PortEntry> ports = PortsOfAdapter(portName, tree);
    return ports.size() == 1 ? ports.front().device : std::string{};
}

}  // namespace veltra
