// The ports of a Linux machine, read from the kernel's device tree (sysfs):
// every entry of <sys>/class/tty is a tty device; those with a device behind
// them that a driver has taken are serial ports, and a USB adapter tells its
// maker, product and serial number a few levels up from that device.
// USB adapter nodes in the device folder count too, named in the tree or not.
// A USB adapter's serial number and USB path come from its USB device in the
// tree, and udev's links to its node from <dev>/serial/by-id and by-path.
// Everything is read with error codes: a missing or odd tree only shortens
// the list, it never stops the window.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "serial/DescriptorPosix.h"
#include "serial/PortList.h"

namespace veltra {
namespace {

using veltra::posix::Descriptor;

namespace fs = std::filesystem;

// The USB device (the level that holds manufacturer, product and serial) sits
// one level above a CDC-ACM adapter's device and two above a USB serial
// converter's port; a little more room, and the walk still stays near.
constexpr int kDescriptionLevels = 5;
// A sysfs attribute never holds more than a page.
constexpr std::size_t kAttributeLimit = 4096;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A name the list may show and DeviceNodeFor maps back to its node: nothing in
// it can climb out of the device folder or name a path, and it is never the
// bare "tty", the program's own controlling terminal.
bool IsBareTtyName(std::string_view name) {
    if (name.size() <= 3 || name.substr(0, 3) != "tty") return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '-'; });
}

// "COM1:".."COM9:" -> 0..8; -1 for anything else.
int ComIndex(std::string_view name) {
    if (name.size() == 5 && name.substr(0, 3) == "COM" && name[3] >= '1' && name[3] <= '9' && name[4] == ':') {
        return name[3] - '1';
    }
    return -1;
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlank = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// The first line of a small attribute file, trimmed; nothing when it is
// missing, not a regular file or unreadable. The open cannot block, so a
// named pipe in a strange tree does not hold the window.
std::optional<std::string> ReadAttribute(const fs::path& path) {
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;

    std::array<char, kAttributeLimit> buffer{};
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t n = ::read(file.Get(), buffer.data() + filled, buffer.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    std::string_view text(buffer.data(), filled);
    text = text.substr(0, text.find('\n'));
    return std::string(Trimmed(text));
}

// Whether `path` lies strictly below `root`; both are canonical.
bool IsBelow(const fs::path& path, const fs::path& root) {
    const auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end() && pathAt != path.end();
}

// "FTDI FT232R USB UART (A1B2C3D4)" from the first folder at or above the tty's
// device that holds a product name; empty when there is none below sysRoot.
std::string DescriptionOf(const fs::path& device, const fs::path& sysRoot) {
    std::error_code ec;
    fs::path folder = fs::canonical(device, ec);
    if (ec) return {};
    for (int level = 0; level < kDescriptionLevels && IsBelow(folder, sysRoot); ++level) {
        if (const auto product = ReadAttribute(folder / "product")) {
            std::string text = ReadAttribute(folder / "manufacturer").value_or("");
            if (!product->empty()) text += (text.empty() ? "" : " ") + *product;
            if (const auto serial = ReadAttribute(folder / "serial"); serial && !serial->empty()) {
                text += " (" + *serial + ")";
            }
            return std::string(Trimmed(text));
        }
        folder = folder.parent_path();
    }
    return {};
}

// The USB device a tty's device belongs to: the first folder at or above it
// with a bus number and a device path, which the USB device has and its
// interfaces have not; nothing when there is none below sysRoot.
std::optional<fs::path> UsbDeviceOf(const fs::path& device, const fs::path& sysRoot) {
    std::error_code ec;
    fs::path folder = fs::canonical(device, ec);
    if (ec) return std::nullopt;
    for (int level = 0; level < kDescriptionLevels && IsBelow(folder, sysRoot); ++level) {
        const auto bus = ReadAttribute(folder / "busnum");
        const auto path = ReadAttribute(folder / "devpath");
        if (bus && !bus->empty() && path && !path->empty()) return folder;
        folder = folder.parent_path();
    }
    return std::nullopt;
}

// The adapter's serial number and its USB path, the name the kernel gives its
// USB device ("1-1.2": bus 1, port 2 of the hub on port 1).
void AddUsbFacts(const fs::path& device, const fs::path& sysRoot, PortEntry& entry) {
    const auto usb = UsbDeviceOf(device, sysRoot);
    if (!usb) return;
    entry.usbSerial = ReadAttribute(*usb / "serial").value_or("");
    entry.usbPath = usb->filename().string();
}

// udev's links in one folder (<dev>/serial/by-id), by the node they lead to.
using LinksByNode = std::map<std::string, std::vector<std::string>>;

LinksByNode LinksIn(const fs::path& folder) {
    LinksByNode links;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code linkError;
        if (!it->is_symlink(linkError)) continue;
        const fs::path node = fs::canonical(it->path(), linkError);
        if (linkError) continue;  // a link left behind by an adapter that is gone
        links[node.string()].push_back(it->path().string());
    }
    for (auto& [node, paths] : links) std::sort(paths.begin(), paths.end());
    return links;
}

// Each adapter's links, found by where its node leads.
void AddLinks(const DeviceTree& tree, std::vector<PortEntry>& adapters) {
    const fs::path serial = fs::path(tree.devDir) / "serial";
    const LinksByNode byId = LinksIn(serial / "by-id");
    const LinksByNode byPath = LinksIn(serial / "by-path");
    if (byId.empty() && byPath.empty()) return;
    for (PortEntry& entry : adapters) {
        std::error_code ec;
        const std::string node = fs::canonical(entry.device, ec).string();
        if (ec) continue;
        if (const auto found = byId.find(node); found != byId.end()) entry.byId = found->second;
        if (const auto found = byPath.find(node); found != byPath.end()) entry.byPath = found->second;
    }
}

// "ttyS<number>": the names the 8250 driver gives its ports.
bool IsEightTwoFiftyName(std::string_view name) {
    return name.size() > 4 && name.substr(0, 4) == "ttyS" &&
           std::all_of(name.begin() + 4, name.end(), IsDigit);
}

// The 8250 driver registers its ports (ttyS0..ttyS31 by default) with a driver
// whether a UART answers or not; its "type" attribute reads 0 (unknown) for a
// port where none was found.
bool UartPresent(const fs::path& classEntry) {
    const auto type = ReadAttribute(classEntry / "type");
    if (!type || type->empty()) return false;
    int value = 0;
    const auto [end, error] = std::from_chars(type->data(), type->data() + type->size(), value);
    return error == std::errc{} && end == type->data() + type->size() && value != 0;
}

// A tty device that is a serial port of this machine: a device behind it that
// a driver has taken (virtual consoles, pseudo-terminals and the console have
// none), and a node to open.
bool IsPresentAdapter(const std::string& name, const fs::path& classEntry, const DeviceTree& tree) {
    if (!IsBareTtyName(name)) return false;
    if (IsEightTwoFiftyName(name)) {
        if (name.size() == 5 && name[4] <= '8') return false;  // already "COM1:".."COM9:"
        if (!UartPresent(classEntry)) return false;
    }
    std::error_code ec;
    if (!fs::is_directory(classEntry / "device", ec)) return false;
    if (!fs::exists(fs::symlink_status(classEntry / "device" / "driver", ec))) return false;
    return fs::exists(fs::path(tree.devDir) / name, ec);
}

// The number a run of digits from `at` stands for, without its leading zeros;
// `at` moves past the run.
std::string_view DigitRun(std::string_view text, std::size_t& at) {
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    std::string_view run = text.substr(start, at - start);
    run.remove_prefix(std::min(run.find_first_not_of('0'), run.size()));
    return run;
}

// Digit runs compare by value, the rest character by character, so ttyUSB2
// comes before ttyUSB10; names equal that way fall back to plain order.
bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const std::string_view aRun = DigitRun(a, i);
            const std::string_view bRun = DigitRun(b, j);
            if (aRun.size() != bRun.size()) return aRun.size() < bRun.size();
            if (aRun != bRun) return aRun < bRun;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if (i == a.size() && j == b.size()) return a < b;
    return i == a.size();
}

// The usual names of USB adapters, "ttyUSB<n>" and "ttyACM<n>".
bool IsUsbAdapterName(std::string_view name) {
    for (const std::string_view prefix : {std::string_view("ttyUSB"), std::string_view("ttyACM")}) {
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), IsDigit)) {
            return true;
        }
    }
    return false;
}

// Device nodes of USB adapters that the device tree does not name: a node
// made by hand or by a tool (a simulated device, a link to a remote port) is
// a port all the same. Only character devices count.
void AddAdapterNodes(const DeviceTree& tree, std::vector<PortEntry>& adapters) {
    std::error_code ec;
    fs::directory_iterator it(tree.devDir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsUsbAdapterName(name)) continue;
        if (std::any_of(adapters.begin(), adapters.end(), [&](const PortEntry& p) { return p.name == name; })) continue;
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        PortEntry entry;
        entry.name = name;
        entry.device = DeviceNodeFor(name, tree);
        adapters.push_back(std::move(entry));
    }
}

void AddTreeAdapters(const DeviceTree& tree, std::vector<PortEntry>& adapters) {
    std::error_code ec;
    const fs::path sysRoot = fs::canonical(tree.sysDir, ec);
    if (ec) return;
    const fs::path classDir = sysRoot / "class" / "tty";
    fs::directory_iterator it(classDir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsPresentAdapter(name, it->path(), tree)) continue;
        PortEntry entry;
        entry.name = name;
        entry.device = DeviceNodeFor(name, tree);
        entry.description = DescriptionOf(it->path() / "device", sysRoot);
        AddUsbFacts(it->path() / "device", sysRoot, entry);
        adapters.push_back(std::move(entry));
    }
}

}  // namespace

std::string DeviceNodeFor(const std::string& portName, const DeviceTree& tree) {
    if (const int index = ComIndex(portName); index >= 0) return tree.devDir + "/ttyS" + std::to_string(index);
    if (IsBareTtyName(portName)) return tree.devDir + "/" + portName;
    return {};
}

// The kernel hands out tty names in the order adapters are plugged in: here
// an adapter's serial number or USB path is what keeps a port to its adapter.
std::string AdapterNamesRefused() { return {}; }

// The serial adapters present, in natural order of their names.
std::vector<PortEntry> platform::PortsBeyondFixed(const DeviceTree& tree) {
    std::vector<PortEntry> adapters;
    AddTreeAdapters(tree, adapters);
    AddAdapterNodes(tree, adapters);
    AddLinks(tree, adapters);
    std::sort(adapters.begin(), adapters.end(),
              [](const PortEntry& a, const PortEntry& b) { return NaturalLess(a.name, b.name); });
    return adapters;
}

}  // namespace veltra
