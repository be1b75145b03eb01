#include <string>

#include "serial/SerialPort.h"

namespace veltra {

// "COM1:".."COM9:" are the first nine serial devices of the system. Any other
// name maps to no device, so that opening it fails like a missing port.
std::string DefaultDeviceName(const std::string& portName) {
    if (portName.size() == 5 && portName.compare(0, 3, "COM") == 0 && portName[3] >= '1' &&
        portName[3] <= '9' && portName[4] == ':') {
        return "/dev/ttyS" + std::to_string(portName[3] - '1');
    }
    return {};
}

}  // namespace veltra
