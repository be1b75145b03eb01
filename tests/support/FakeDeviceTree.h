#pragma once
// A fake device tree in a temporary folder, laid out as the kernel lays out
// sysfs: each tty device is a folder under devices/, named in class/tty, with a
// "device" link to the hardware device behind it; a driver that took that
// device shows as its "driver" link; a USB adapter's maker, product and serial
// number, bus number and device path sit in the USB device's folder above it
// (devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2 for port 2 of the hub on
// port 1). Device nodes in dev/ are empty files, or links to a real device;
// udev's links to them are relative links in dev/serial/by-id and by-path.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace veltra::testing {

class FakeDeviceTree {
public:
    explicit FakeDeviceTree(const std::string& label) {
        namespace fs = std::filesystem;
        root_ = fs::temp_directory_path() / ("veltra-ports-" + std::to_string(::getpid()) + "-" + label);
        fs::remove_all(root_);
        fs::create_directories(dev());
        fs::create_directories(sys() / "class" / "tty");
        tree_ = {dev().string(), sys().string()};
    }
    ~FakeDeviceTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeDeviceTree(const FakeDeviceTree&) = delete;
    FakeDeviceTree& operator=(const FakeDeviceTree&) = delete;

    std::filesystem::path dev() const { return root_ / "dev"; }
    std::filesystem::path sys() const { return root_ / "sys"; }
    std::string Node(const std::string& name) const { return (dev() / name).string(); }
    const DeviceTree& Tree() const { return tree_; }

    static void Write(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    // A hardware device under sys/devices, taken by `driver` unless that is empty.
    std::filesystem::path Device(const std::string& path, const std::string& driver) {
        const std::filesystem::path folder = sys() / "devices" / path;
        std::filesystem::create_directories(folder);
        if (!driver.empty()) {
            const std::filesystem::path driverFolder = sys() / "bus" / "fake" / "drivers" / driver;
            std::filesystem::create_directories(driverFolder);
            std::filesystem::create_directory_symlink(driverFolder, folder / "driver");
        }
        return folder;
    }

    // A USB device (the level with manufacturer, product and serial) with one
    // interface below it; returns the interface. A folder named as the kernel
    // names USB devices ("1-1.2") gets the bus number and device path it
    // stands for.
    std::filesystem::path UsbDevice(const std::string& path, const std::string& manufacturer,
                                    const std::string& product, const std::string& serial,
                                    const std::string& interfaceDriver) {
        const std::filesystem::path usb = Device(path, "usb");
        const std::string kernelName = usb.filename().string();
        if (const std::size_t dash = kernelName.find('-'); dash != std::string::npos) {
            Write(usb / "busnum", kernelName.substr(0, dash) + "\n");
            Write(usb / "devpath", kernelName.substr(dash + 1) + "\n");
        }
        if (!manufacturer.empty()) Write(usb / "manufacturer", manufacturer + "\n");
        if (!product.empty()) Write(usb / "product", product + "\n");
        if (!serial.empty()) Write(usb / "serial", serial + "\n");
        return Device(path + "/" + usb.filename().string() + ":1.0", interfaceDriver);
    }

    // The tty device `name` in class/tty, as the kernel makes it: a folder
    // below its hardware device (or below devices/virtual when there is none)
    // with a relative "device" link up to it, and a class entry linking there.
    std::filesystem::path Tty(const std::string& name, const std::filesystem::path& device) {
        const std::filesystem::path parent = device.empty() ? sys() / "devices" / "virtual" : device;
        const std::filesystem::path folder = parent / "tty" / name;
        std::filesystem::create_directories(folder);
        if (!device.empty()) std::filesystem::create_directory_symlink("../..", folder / "device");
        std::filesystem::create_directory_symlink(folder, sys() / "class" / "tty" / name);
        return folder;
    }

    // A serial port of the 8250 driver, which has a driver whether a UART is
    // there or not; `type` is what the port's "type" attribute reads.
    void EightTwoFiftyPort(const std::string& name, int type) {
        const std::filesystem::path port = Device("platform/serial8250/serial8250:0." + name.substr(4), "port");
        Write(Tty(name, port) / "type", std::to_string(type) + "\n");
        Write(dev() / name, "");
    }

    // The folder of the USB device at `usbPath` ("1-1.2") below the host
    // controller, through the hubs it hangs from: usb1/1-1/1-1.2.
    static std::string UsbFolder(const std::string& usbPath) {
        const std::size_t dash = usbPath.find('-');
        // Appended piece by piece: GCC 12 at -O3 takes "/" + a string here
        // for overlapping copies (-Wrestrict).
        std::string folder = "pci0000:00/0000:00:14.0/usb";
        folder.append(usbPath, 0, dash);
        for (std::size_t dot = usbPath.find('.', dash); dot != std::string::npos; dot = usbPath.find('.', dot + 1)) {
            folder += '/';
            folder.append(usbPath, 0, dot);
        }
        folder += '/';
        folder += usbPath;
        return folder;
    }

    // A CDC-ACM adapter plugged in at `usbPath` ("1-3"; the tty hangs straight
    // off the interface), its node an empty file or, when `node` is given, a
    // link to that real device.
    void AcmAdapter(const std::string& name, const std::string& usbPath, const std::string& product,
                    const std::string& serial, const std::string& node = {}) {
        Tty(name, UsbDevice(UsbFolder(usbPath), "", product, serial, "cdc_acm"));
        if (node.empty()) {
            Write(dev() / name, "");
        } else {
            std::filesystem::create_symlink(node, dev() / name);
        }
    }

    // A USB serial converter (FTDI, CP210x, ...) plugged in at `usbPath`: the
    // tty hangs off the converter's port device below the interface, two
    // levels under the USB device. Further names are further ports of one
    // converter (a dual FT2232), each on an interface of its own.
    void SerialConverter(const std::vector<std::string>& names, const std::string& usbPath, const std::string& product,
                         const std::string& serial) {
        const std::filesystem::path first = UsbDevice(UsbFolder(usbPath), "FTDI", product, serial, "ftdi_sio");
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::filesystem::path usbInterface = first.parent_path() / (usbPath + ":1." + std::to_string(i));
            std::filesystem::create_directories(usbInterface);
            const std::filesystem::path port = usbInterface / names[i];
            Tty(names[i], Device(port.lexically_relative(sys() / "devices").string(), "ftdi_sio"));
            Write(dev() / names[i], "");
        }
    }

    // udev's link dev/serial/<kind>/<link> to the node `name`, relative as
    // udev makes it.
    void SerialLink(const std::string& kind, const std::string& link, const std::string& name) {
        std::filesystem::create_directories(dev() / "serial" / kind);
        std::filesystem::create_symlink("../../" + name, dev() / "serial" / kind / link);
    }

    // The adapter behind `name` pulled out: its USB device goes from the
    // tree, its node and udev's links to it from dev/.
    void Unplug(const std::string& name) {
        namespace fs = std::filesystem;
        const fs::path entry = sys() / "class" / "tty" / name;
        fs::path usb = fs::canonical(entry / "device");
        while (!fs::exists(usb / "busnum") && usb != sys()) usb = usb.parent_path();
        fs::remove_all(usb);
        fs::remove(entry);
        fs::remove(dev() / name);
        std::vector<fs::path> links;
        for (const char* kind : {"by-id", "by-path"}) {
            std::error_code none;
            for (const auto& link : fs::directory_iterator(dev() / "serial" / kind, none)) {
                if (fs::read_symlink(link.path()).filename() == name) links.push_back(link.path());
            }
        }
        for (const fs::path& link : links) fs::remove(link);
    }

    std::vector<std::string> ComRows() const {
        std::vector<std::string> rows;
        for (int n = 0; n < 9; ++n) {
            rows.push_back("COM" + std::to_string(n + 1) + ": | " + Node("ttyS" + std::to_string(n)) + " | ");
        }
        return rows;
    }

protected:
    std::filesystem::path root_;
    DeviceTree tree_;
};

}  // namespace veltra::testing
