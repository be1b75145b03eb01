#pragma once
// A fake device tree in a temporary folder, laid out as the kernel lays out
// sysfs: each tty device is a folder under devices/, named in class/tty, with a
// "device" link to the hardware device behind it; a driver that took that
// device shows as its "driver" link; a USB adapter's maker, product and serial
// number sit in the USB device's folder above it. Device nodes in dev/ are
// empty files, or links to a real device.
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
    // interface below it; returns the interface.
    std::filesystem::path UsbDevice(const std::string& path, const std::string& manufacturer,
                                    const std::string& product, const std::string& serial,
                                    const std::string& interfaceDriver) {
        const std::filesystem::path usb = Device(path, "usb");
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

    // A CDC-ACM adapter plugged in at USB port `usbPort` (the tty hangs straight
    // off the interface), its node an empty file or, when `node` is given, a
    // link to that real device.
    void AcmAdapter(const std::string& name, const std::string& usbPort, const std::string& product,
                    const std::string& serial, const std::string& node = {}) {
        Tty(name, UsbDevice("pci0000:00/0000:00:14.0/usb1/" + usbPort, "", product, serial, "cdc_acm"));
        if (node.empty()) {
            Write(dev() / name, "");
        } else {
            std::filesystem::create_symlink(node, dev() / name);
        }
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
