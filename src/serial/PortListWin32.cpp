// The ports of a Windows machine: "COM1:" to "COM9:" always, then every COM
// port above them that the system reports present. Windows lists the serial
// ports present under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM: one
// value for each, named after the port's device ("\Device\VCP0",
// "\Device\Serial0"), whose data is the port's name ("COM12"). The key is
// rewritten as adapters come and go, so it is read again on every call. A
// missing key or an odd value only shortens the list; the device tree of the
// POSIX side has no meaning here.
#include <windows.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/PortList.h"
#include "win32/SystemText.h"

namespace veltra {
namespace {

struct PresentPort {
    unsigned number = 0;
    std::string description;
};

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// "COM12" -> 12; 0 for anything else. The data of a registry string may or may
// not end in NULs.
unsigned ComNumber(std::wstring_view name) {
    while (!name.empty() && name.back() == L'\0') name.remove_suffix(1);
    constexpr std::wstring_view kPrefix = L"COM";
    if (name.size() <= kPrefix.size() || name.substr(0, kPrefix.size()) != kPrefix) return 0;
    std::string digits;
    for (const wchar_t c : name.substr(kPrefix.size())) {
        if (c < L'0' || c > L'9') return 0;
        digits.push_back(static_cast<char>(c));
    }
    if (digits.front() == '0') return 0;
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc{} && end == digits.data() + digits.size() ? number : 0;
}

std::vector<PresentPort> ReadSerialComm() {
    std::vector<PresentPort> ports;
    RegistryKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, key.Out()) !=
        ERROR_SUCCESS) {
        return ports;
    }
    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                           &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return ports;
    }
    // Room for the longest name and data and their terminating NULs.
    std::wstring name(longestName + 1, L'\0');
    std::wstring data(longestData / sizeof(wchar_t) + 1, L'\0');
    for (DWORD index = 0; index < values; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LSTATUS status = ::RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, &type,
                                               reinterpret_cast<BYTE*>(data.data()), &dataBytes);
        // A value added since the count was taken is longer than the room
        // made for it: it is passed over, as a port plugged in a moment later
        // would be.
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const unsigned number = ComNumber(std::wstring_view(data.data(), dataBytes / sizeof(wchar_t)));
        if (number == 0) continue;
        ports.push_back({number, win32::Utf8FromWide(std::wstring_view(name.data(), nameLength))});
    }
    return ports;
}

}  // namespace

// Windows gives an adapter its COM number by what identifies it (an FTDI
// adapter by its serial number) and keeps it across re-plugs, so the COM name
// is already the adapter's own.
std::string AdapterNamesRefused() {
    return "usb:SERIAL and usb-path:PATH name ports on Linux only: on Windows a COM port's number already stays "
           "with its adapter";
}

// The ports above COM9 present now, in number order, each once.
std::vector<PortEntry> platform::PortsBeyondFixed(const DeviceTree& tree) {
    std::vector<PresentPort> present = ReadSerialComm();
    std::stable_sort(present.begin(), present.end(),
                     [](const PresentPort& a, const PresentPort& b) { return a.number < b.number; });
    std::vector<PortEntry> ports;
    unsigned last = kFixedComPorts;  // COM1..COM9 are listed already
    for (PresentPort& port : present) {
        if (port.number <= last) continue;
        last = port.number;
        PortEntry entry;
        entry.name = "COM" + std::to_string(port.number) + ":";
        entry.device = DeviceNodeFor(entry.name, tree);
        entry.description = std::move(port.description);
        ports.push_back(std::move(entry));
    }
    return ports;
}

}  // namespace veltra
