// The port list over a fake device tree in a temporary folder, laid out as the
// kernel lays out sysfs (support/FakeDeviceTree.h).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "serial/PortList.h"
#include "serial/SerialPort.h"
#include "support/FakeDeviceTree.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;

// One readable line for each entry, so a failure shows the whole list.
std::vector<std::string> Rows(const std::vector<PortEntry>& ports) {
    std::vector<std::string> rows;
    for (const PortEntry& p : ports) rows.push_back(p.name + " | " + p.device + " | " + p.description);
    return rows;
}

class PortList : public ::testing::Test, protected testing::FakeDeviceTree {
protected:
    PortList() : FakeDeviceTree(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
};

TEST_F(PortList, ListsTheComPortsThenTheAdaptersPresentWithWhatTheyTellOfThemselves) {
    EightTwoFiftyPort("ttyS0", 4);   // a 16550A: stays "COM1:", not listed twice
    EightTwoFiftyPort("ttyS1", 0);   // no UART: still "COM2:", as every COM name
    EightTwoFiftyPort("ttyS12", 4);  // a UART beyond the ninth port
    EightTwoFiftyPort("ttyS13", 0);  // a placeholder of the driver

    const std::string hub = "pci0000:00/0000:00:14.0/usb1/";
    // A USB serial converter: interface, then its port device, then the tty.
    const fs::path ftdi = UsbDevice(hub + "1-1", "FTDI", "FT232R USB UART", "A1B2C3D4", "ftdi_sio");
    Tty("ttyUSB0", Device((ftdi / "ttyUSB0").lexically_relative(sys() / "devices").string(), "ftdi_sio"));
    Write(dev() / "ttyUSB0", "");

    // Only a product name, with stray spaces, and no serial number.
    const fs::path bare = UsbDevice(hub + "1-2", "", "USB-Serial Controller  ", "", "pl2303");
    // An older layout: the class entry is a folder of its own, not a link.
    fs::create_directories(sys() / "class" / "tty" / "ttyUSB1");
    fs::create_directory_symlink(Device((bare / "ttyUSB1").lexically_relative(sys() / "devices").string(), "pl2303"),
                                 sys() / "class" / "tty" / "ttyUSB1" / "device");
    Write(dev() / "ttyUSB1", "");

    AcmAdapter("ttyACM0", "1-3", "Meter Link", "0042");

    // Unplugged a moment ago: the tree still has it, the node is gone.
    const fs::path gone = UsbDevice(hub + "1-4", "FTDI", "FT232R USB UART", "GONE", "ftdi_sio");
    Tty("ttyUSB5", Device((gone / "ttyUSB5").lexically_relative(sys() / "devices").string(), "ftdi_sio"));

    Tty("tty0", {});  // a virtual console: no device behind it
    Write(dev() / "tty0", "");
    Tty("ttyp0", Device("platform/pty.0", ""));  // a device no driver has taken
    Write(dev() / "ttyp0", "");

    std::vector<std::string> expected = ComRows();
    expected.push_back("ttyACM0 | " + Node("ttyACM0") + " | Meter Link (0042)");
    expected.push_back("ttyS12 | " + Node("ttyS12") + " | ");
    expected.push_back("ttyUSB0 | " + Node("ttyUSB0") + " | FTDI FT232R USB UART (A1B2C3D4)");
    expected.push_back("ttyUSB1 | " + Node("ttyUSB1") + " | USB-Serial Controller");
    EXPECT_EQ(Rows(ListPorts(tree_)), expected);
}

TEST_F(PortList, AdaptersComeInNaturalOrderOfTheirNumbers) {
    for (const std::string name : {"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyUSB0", "ttyACM0", "ttyS32", "ttyS100"}) {
        const fs::path device = Device("platform/" + name, "driver");
        Write(Tty(name, device) / "type", "4\n");
        Write(dev() / name, "");
    }
    std::vector<std::string> names;
    for (const PortEntry& p : ListPorts(tree_)) names.push_back(p.name);
    const std::vector<std::string> adapters(names.begin() + 9, names.end());
    EXPECT_EQ(adapters, (std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyS32", "ttyS100", "ttyUSB0", "ttyUSB2",
                                                  "ttyUSB10"}));
}

TEST_F(PortList, TreeThatCannotBeReadLeavesTheNineComPorts) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& sys)> spoil;
    };
    const Case cases[] = {
        {"no sysfs at all", [](const fs::path& s) { fs::remove_all(s); }},
        {"no tty class", [](const fs::path& s) { fs::remove_all(s / "class"); }},
        {"tty class is a file", [](const fs::path& s) {
             fs::remove_all(s / "class" / "tty");
             Write(s / "class" / "tty", "");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(sys());
        fs::create_directories(sys() / "class" / "tty");
        const fs::path usb = UsbDevice("usb1/1-1", "FTDI", "FT232R USB UART", "A1B2C3D4", "cdc_acm");
        Tty("ttyACM0", usb);
        Write(dev() / "ttyACM0", "");
        ASSERT_EQ(ListPorts(tree_).size(), 10u) << "the adapter is seen before the tree is spoilt";
        c.spoil(sys());
        std::vector<PortEntry> ports;
        EXPECT_NO_THROW(ports = ListPorts(tree_));
        EXPECT_EQ(Rows(ports), ComRows());
    }
}

TEST_F(PortList, DescriptionIsNeverLookedForAboveTheDeviceTree) {
    // Two levels below sys, with a product name just outside it.
    Write(root_ / "product", "Outside\n");
    Tty("ttyACM0", Device("acm0", "cdc_acm"));
    Write(dev() / "ttyACM0", "");
    const std::vector<PortEntry> ports = ListPorts(tree_);
    ASSERT_EQ(ports.size(), 10u);
    EXPECT_EQ(ports[9].name, "ttyACM0");
    EXPECT_EQ(ports[9].description, "");
}

// A node that the device tree does not name (made by a simulated device, or
// a link to a port elsewhere) is an adapter all the same, when it is a device.
TEST_F(PortList, AdapterNodesOutsideTheTreeAreListedWhenTheyAreDevices) {
    fs::create_symlink("/dev/null", dev() / "ttyUSB3");  // a character device
    fs::create_symlink("/dev/null", dev() / "ttyACM7");
    Write(dev() / "ttyUSB4", "");                         // a plain file
    fs::create_symlink("/dev/null", dev() / "ttyUSBx");  // not an adapter's name
    fs::create_symlink("/dev/null", dev() / "ttyXYZ0");

    std::vector<std::string> expected = ComRows();
    expected.push_back("ttyACM7 | " + Node("ttyACM7") + " | ");
    expected.push_back("ttyUSB3 | " + Node("ttyUSB3") + " | ");
    EXPECT_EQ(Rows(ListPorts(tree_)), expected);
}

TEST(DeviceNode, PortNamesMapIntoTheDeviceFolderOnly) {
    const DeviceTree tree{"/x/dev", "/x/sys"};
    struct Case {
        std::string name, node;
    };
    const Case cases[] = {
        {"COM1:", "/x/dev/ttyS0"},
        {"COM9:", "/x/dev/ttyS8"},
        {"COM10:", ""},
        {"COM0:", ""},
        {"COM1", ""},
        {"com1:", ""},
        {"ttyUSB0", "/x/dev/ttyUSB0"},
        {"ttyACM3", "/x/dev/ttyACM3"},
        {"ttyS12", "/x/dev/ttyS12"},
        {"tty_a-1", "/x/dev/tty_a-1"},
        {"../etc/passwd", ""},
        {"tty/../x", ""},
        {"ttyUSB0/..", ""},
        {"/dev/ttyUSB0", ""},
        {"ttyUSB 0", ""},
        {"tty", ""},  // the program's own terminal, never a port
        {"usbtty0", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DeviceNodeFor(c.name, tree), c.node) << c.name;
}

TEST(DeviceNode, PortOpensTheSameNodeTheListNames) {
    EXPECT_EQ(DefaultDeviceName("COM3:"), "/dev/ttyS2");
    EXPECT_EQ(DefaultDeviceName("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DefaultDeviceName("../ttyUSB0"), "");
}

TEST(PortListOfThisMachine, StartsWithTheNineComPortsAndNamesNodesThePortOpens) {
    std::vector<PortEntry> ports;
    ASSERT_NO_THROW(ports = ListPorts());
    ASSERT_GE(ports.size(), 9u);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(ports[i].name);
        if (i < 9) {
            EXPECT_EQ(ports[i].name, "COM" + std::to_string(i + 1) + ":");
            EXPECT_EQ(ports[i].device, "/dev/ttyS" + std::to_string(i));
        }
        EXPECT_EQ(DefaultDeviceName(ports[i].name), ports[i].device);
        EXPECT_TRUE(i < 9 || fs::exists(ports[i].device));
    }
}

}  // namespace
}  // namespace veltra
