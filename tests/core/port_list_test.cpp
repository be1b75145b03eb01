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
#include "terminal/CommandLine.h"
#include "terminal/Commands.h"

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

// What the list tells of each adapter beyond its name, device and
// description: "name | serial | USB path | by-id links | by-path links | mark".
std::vector<std::string> AdapterRows(const std::vector<PortEntry>& ports) {
    const auto joined = [](const std::vector<std::string>& paths) {
        std::string text;
        for (const std::string& path : paths) text += (text.empty() ? "" : ",") + path;
        return text;
    };
    std::vector<std::string> rows;
    for (std::size_t i = kFixedComPorts; i < ports.size(); ++i) {
        const PortEntry& p = ports[i];
        rows.push_back(p.name + " | " + p.usbSerial + " | " + p.usbPath + " | " + joined(p.byId) + " | " +
                       joined(p.byPath) + " | " + (p.sharedSerial ? "shared" : ""));
    }
    return rows;
}

TEST_F(PortList, UsbAdaptersTellTheirSerialNumberUsbPathAndUdevLinks) {
    SerialConverter({"ttyUSB0"}, "1-1.2", "FT232R USB UART", "A1B2C3D4");
    SerialLink("by-id", "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0", "ttyUSB0");
    SerialLink("by-path", "pci-0000:00:14.0-usbv2-0:1.2:1.0-port0", "ttyUSB0");
    SerialLink("by-path", "pci-0000:00:14.0-usb-0:1.2:1.0-port0", "ttyUSB0");
    AcmAdapter("ttyACM0", "1-3", "Meter Link", "0042");
    SerialLink("by-id", "usb-Meter_Link_0042-if00", "ttyACM0");
    SerialConverter({"ttyUSB1"}, "1-1.3", "USB Serial", "");  // reports no serial number
    EightTwoFiftyPort("ttyS12", 4);                            // no USB adapter behind it
    SerialLink("by-id", "usb-FTDI_FT232R_USB_UART_GONE-if00-port0", "ttyUSB9");  // left behind by an unplugged one

    const std::string byId = (dev() / "serial" / "by-id").string() + "/";
    const std::string byPath = (dev() / "serial" / "by-path").string() + "/";
    const std::vector<PortEntry> ports = ListPorts(tree_);
    EXPECT_EQ(AdapterRows(ports),
              (std::vector<std::string>{
                  "ttyACM0 | 0042 | 1-3 | " + byId + "usb-Meter_Link_0042-if00 |  | ",
                  "ttyS12 |  |  |  |  | ",
                  "ttyUSB0 | A1B2C3D4 | 1-1.2 | " + byId + "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0 | " + byPath +
                      "pci-0000:00:14.0-usb-0:1.2:1.0-port0," + byPath + "pci-0000:00:14.0-usbv2-0:1.2:1.0-port0 | ",
                  "ttyUSB1 |  | 1-1.3 |  |  | ",
              }));

    // The lines of --list: the three columns of old first, every column there
    // when empty.
    ASSERT_EQ(ports.size(), 13u);
    EXPECT_EQ(terminal::PortListLine(ports[0]), "COM1:\t" + Node("ttyS0") + "\t\t\t\t\t\t\n");
    EXPECT_EQ(terminal::PortListLine(ports[11]),
              "ttyUSB0\t" + Node("ttyUSB0") + "\tFTDI FT232R USB UART (A1B2C3D4)\tA1B2C3D4\t1-1.2\t" + byId +
                  "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0\t" + byPath + "pci-0000:00:14.0-usb-0:1.2:1.0-port0 " +
                  byPath + "pci-0000:00:14.0-usbv2-0:1.2:1.0-port0\t\n");
}

// Two fixtures' adapters that came back from a re-plug in the other order:
// the kernel gave each the other's name, the adapter names still find them.
TEST_F(PortList, AdapterNamesFindTheirAdapterUnderWhateverNameTheKernelGaveIt) {
    SerialConverter({"ttyUSB0"}, "1-1.2", "FT232R USB UART", "FIXTURE-A");
    SerialConverter({"ttyUSB1"}, "1-1.3", "FT232R USB UART", "FIXTURE-B");
    AcmAdapter("ttyACM0", "2-4", "Meter Link", "0042");
    SerialConverter({"ttyUSB2"}, "1-1.4", "USB Serial", "");

    struct Case {
        std::string name, before, after;  // the tty it stands for, before and after the re-plug; "" for none
    };
    const Case cases[] = {
        {"usb:FIXTURE-A", "ttyUSB0", "ttyUSB1"},
        {"usb:FIXTURE-B", "ttyUSB1", "ttyUSB0"},
        {"usb-path:1-1.2", "ttyUSB0", "ttyUSB1"},
        {"usb-path:1-1.3", "ttyUSB1", "ttyUSB0"},
        {"usb:0042", "ttyACM0", "ttyACM0"},
        {"usb-path:2-4", "ttyACM0", "ttyACM0"},
        {"usb-path:1-1.4", "ttyUSB2", "ttyUSB2"},
        {"usb:FIXTURE-C", "", ""},        // no adapter reports it
        {"usb:FIXTURE", "", ""},          // a serial number is compared whole
        {"usb:fixture-a", "", ""},        // and as the adapter reports it
        {"usb-path:1-1", "", ""},         // the hub the adapters hang from
        {"usb-path:1-1.2:1.0", "", ""},   // an interface of the adapter
        {"usb:", "", ""},                 // never the adapter that reports no serial number
        {"usb-path:", "", ""},
        {"ttyUSB0", "", ""},              // no adapter name at all
    };
    const auto check = [&](const std::string& expected, const Case& c) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsAdapterName(c.name), c.name.rfind("usb", 0) == 0);
        EXPECT_EQ(AdapterNode(c.name, tree_), expected.empty() ? "" : Node(expected));
        std::vector<std::string> names;
        for (const PortEntry& p : PortsOfAdapter(c.name, tree_)) names.push_back(p.name);
        EXPECT_EQ(names, expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{expected});
    };
    for (const Case& c : cases) check(c.before, c);

    Unplug("ttyUSB0");
    Unplug("ttyUSB1");
    SerialConverter({"ttyUSB0"}, "1-1.3", "FT232R USB UART", "FIXTURE-B");
    SerialConverter({"ttyUSB1"}, "1-1.2", "FT232R USB UART", "FIXTURE-A");
    for (const Case& c : cases) check(c.after, c);
}

// Cheap clones often report one serial number between them. The list marks
// them, and "usb:" is refused before anything is opened, naming them all; the
// ports of one dual converter share a serial number without being clones.
TEST_F(PortList, AdaptersSharingASerialNumberAreMarkedAndTheirSerialIsRefused) {
    SerialConverter({"ttyUSB0"}, "1-1.2", "FT232R USB UART", "A50285BI");
    SerialConverter({"ttyUSB1"}, "1-1.3", "FT232R USB UART", "A50285BI");
    SerialConverter({"ttyUSB2", "ttyUSB3"}, "1-4", "Dual RS232-HS", "FT2232X");
    SerialConverter({"ttyUSB4"}, "1-5", "FT232R USB UART", "UNIQUE");

    std::vector<std::string> marked;
    for (const PortEntry& entry : ListPorts(tree_)) {
        const std::string line = terminal::PortListLine(entry);
        const std::string last = line.substr(line.rfind('\t'));
        EXPECT_EQ(last, entry.sharedSerial ? "\t" + std::string(terminal::kSharedSerialMark) + "\n" : "\t\n");
        if (entry.sharedSerial) marked.push_back(entry.name);
    }
    EXPECT_EQ(marked, (std::vector<std::string>{"ttyUSB0", "ttyUSB1"}));
    EXPECT_EQ(AdapterNode("usb:A50285BI", tree_), "") << "one of them is never guessed";
    EXPECT_EQ(AdapterNode("usb-path:1-1.3", tree_), Node("ttyUSB1"));

    const std::string clones = "adapters ttyUSB0 (" + Node("ttyUSB0") + " at USB 1-1.2) and ttyUSB1 (" +
                               Node("ttyUSB1") + " at USB 1-1.3) report the same serial number A50285BI; name one by "
                               "its USB path (usb-path:1-1.2)";
    const std::string dual = "the adapter at USB 1-4 has several ports, ttyUSB2 (" + Node("ttyUSB2") +
                             " at USB 1-4) and ttyUSB3 (" + Node("ttyUSB3") +
                             " at USB 1-4); name one by its /dev/serial/by-id link";
    struct Case {
        std::vector<std::string> ports;
        std::string refusal;  // empty: the ports pass
    };
    const Case cases[] = {
        {{"usb:A50285BI"}, "--port usb:A50285BI: " + clones},
        {{"usb:UNIQUE", "usb:A50285BI"}, "--port usb:A50285BI: " + clones},  // every port is looked at
        {{"usb:FT2232X"}, "--port usb:FT2232X: " + dual},
        {{"usb-path:1-4"}, "--port usb-path:1-4: " + dual},
        {{"usb:"}, "--port usb: wants the adapter's serial number after usb:"},
        {{"usb-path:"}, "--port usb-path: wants the adapter's USB path after usb-path: (1-1.2)"},
        {{"usb-path:1-1.2", "usb-path:1-1.3", "usb:UNIQUE"}, ""},
        {{"usb:NOT-PLUGGED-IN"}, ""},  // opens like a missing port
        {{"ttyUSB0", "ttyUSB1", "/dev/ttyUSB0", "COM1:"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ports.back());
        std::string refusal;
        try {
            terminal::RefuseUnclearAdapterNames(c.ports, tree_);
        } catch (const terminal::UsageError& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, c.refusal);
    }
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
