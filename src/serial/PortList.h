#pragma once
// The ports the window offers: the nine fixed "COMn:" names, then the serial
// adapters the system has right now (on Linux USB adapters such as
// /dev/ttyUSB0 and /dev/ttyACM0, and serial cards beyond the ninth port; on
// Windows the COM ports above COM9). Each platform side says which device a
// name stands for; OpenPort opens that device.
#include <string>
#include <vector>

namespace veltra {

struct PortEntry {
    std::string name;         // what the list shows and OpenPort takes: "COM1:" .. "COM9:", "ttyUSB0", "COM12:"
    std::string device;       // the device: "/dev/ttyS0", "/dev/ttyUSB0"; on Windows "COM1:", "\\.\COM12"
    std::string description;  // e.g. "FTDI FT232R USB UART (A1B2C3D4)", "\Device\VCP0"; empty when the system tells nothing

    // The USB adapter behind the port, on Linux; empty when the port is none
    // or the system tells nothing. These stay with the adapter when the
    // kernel hands out its tty name anew after a re-plug.
    std::string usbSerial;  // the serial number the adapter reports: "A1B2C3D4"
    std::string usbPath;    // where it is plugged in, the kernel's name of the USB device: "1-1.2"
    // The links udev made to the node under devDir/serial/by-id and by-path,
    // whole paths in name order ("/dev/serial/by-id/usb-FTDI_..._A1B2C3D4-if00-port0").
    std::vector<std::string> byId;
    std::vector<std::string> byPath;
    // Another adapter present reports the same serial number (cheap clones
    // often share one), so "usb:<serial>" cannot tell them apart.
    bool sharedSerial = false;

    bool operator==(const PortEntry&) const = default;
};

// Where the system keeps device nodes and its device tree; tests build a fake
// tree in a temporary folder. Windows has neither: there it is ignored.
struct DeviceTree {
    std::string devDir = "/dev";
    std::string sysDir = "/sys";
};

// "COM1:" to "COM9:" first, always, in order (devDir + "/ttyS0".."/ttyS8",
// listed whether present or not, without a description); then the serial
// adapters present on the machine, sorted by name in natural order (ttyACM0,
// ttyACM1, ttyUSB0, ttyUSB2, ttyUSB10). On Windows the COM ports above COM9
// that the system reports present follow, in number order, described by the
// name of their device. A USB adapter's entry tells its serial number, USB
// path and udev's links to its node, and whether another adapter present has
// the same serial number. Never throws: when the device tree (the registry)
// cannot be read the list holds the nine COM entries only.
std::vector<PortEntry> ListPorts(const DeviceTree& tree = {});

// The device a port name stands for: "COMn:" (n 1..9) -> devDir/ttyS(n-1);
// a bare tty name such as "ttyUSB0" or "ttyACM3" (letters, digits, '_' and '-'
// only, starting with "tty") -> devDir/name; anything else -> "" (opens like a
// missing port). No name can reach outside devDir. On Windows "COM1:" to
// "COM9:" stand for themselves, "COMn:" above them for "\\.\COMn", and
// anything else for "".
std::string DeviceNodeFor(const std::string& portName, const DeviceTree& tree = {});

// A port named by its USB adapter rather than by the tty name the kernel
// gave it: "usb:<serial number>" or "usb-path:<USB path>" ("usb-path:1-1.2").
inline constexpr char kUsbSerialPrefix[] = "usb:";
inline constexpr char kUsbPathPrefix[] = "usb-path:";
bool IsAdapterName(const std::string& portName);

// The ports of ListPorts(tree) an adapter name stands for now, in list order:
// those whose adapter reports that serial number, or sits at that USB path.
// None for a name that is no adapter name, or has nothing after its prefix.
// Several when adapters share a serial number, or one adapter has several
// ports (a dual or quad converter).
std::vector<PortEntry> PortsOfAdapter(const std::string& portName, const DeviceTree& tree = {});

// The node of the one port an adapter name stands for now; "" (opens like a
// missing port) when none does, or several do: a port is never guessed.
std::string AdapterNode(const std::string& portName, const DeviceTree& tree = {});

// Why adapter names cannot name a port on this system, one sentence; empty
// where they can. Each platform side says.
std::string AdapterNamesRefused();

// "COM1:" to "COM<kFixedComPorts>:" head the list on every machine.
inline constexpr int kFixedComPorts = 9;

namespace platform {

// Each platform's part of ListPorts: the ports present beyond the fixed ones,
// in the order the list shows them. May throw when the system's record of its
// devices cannot be read.
std::vector<PortEntry> PortsBeyondFixed(const DeviceTree& tree);

}  // namespace platform

}  // namespace veltra
