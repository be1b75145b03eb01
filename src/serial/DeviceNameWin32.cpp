// Port names on Windows. "COM1:" to "COM9:" are device names Windows accepts
// as they stand; a port numbered 10 or more is reached only through the
// device namespace, "\\.\COM10". Nothing else names a port.
#include <charconv>
#include <string>
#include <string_view>

#include "serial/PortList.h"
#include "serial/SerialPort.h"

namespace veltra {
namespace {

// The number of a port name "COM<n>:" (n from 1, without leading zeros); 0
// for anything else.
unsigned PortNumber(std::string_view name) {
    constexpr std::string_view kPrefix = "COM";
    if (name.size() < kPrefix.size() + 2 || name.substr(0, kPrefix.size()) != kPrefix || name.back() != ':') return 0;
    const std::string_view digits = name.substr(kPrefix.size(), name.size() - kPrefix.size() - 1);
    if (digits.front() < '1' || digits.front() > '9') return 0;
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size()) return 0;
    return number;
}

}  // namespace

std::string DeviceNodeFor(const std::string& portName, const DeviceTree&) {
    const unsigned number = PortNumber(portName);
    if (number == 0) return {};
    if (number <= kFixedComPorts) return portName;
    return "\\\\.\\COM" + std::to_string(number);
}

std::string DefaultDeviceName(const std::string& portName) { return DeviceNodeFor(portName); }

}  // namespace veltra
