#include <string>

#include "serial/PortList.h"
#include "serial/SerialPort.h"

namespace veltra {

// "COM1:".."COM9:" are the first nine serial devices of the system, and a bare
// tty name from the port list ("ttyUSB0") is its own device node. Any other
// name maps to no device, so that opening it fails like a missing port.
std::string DefaultDeviceName(const std::string& portName) { return DeviceNodeFor(portName); }

}  // namespace veltra
