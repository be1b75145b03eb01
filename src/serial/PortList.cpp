#include "serial/PortList.h"

#include <exception>
#include <iterator>

namespace veltra {

std::vector<PortEntry> ListPorts(const DeviceTree& tree) {
    std::vector<PortEntry> ports;
    for (int n = 1; n <= kFixedComPorts; ++n) {
        const std::string name = "COM" + std::to_string(n) + ":";
        ports.push_back({name, DeviceNodeFor(name, tree), {}});
    }
    // The list is for the operator to choose from: a system record that
    // cannot be read (or memory running out while reading it) leaves the
    // fixed entries.
    try {
        auto beyond = platform::PortsBeyondFixed(tree);
        ports.insert(ports.end(), std::make_move_iterator(beyond.begin()), std::make_move_iterator(beyond.end()));
    } catch (const std::exception&) {
    }
    return ports;
}

}  // namespace veltra
