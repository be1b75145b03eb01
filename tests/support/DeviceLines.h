#pragma once
// What veltra-load prints for its line of devices, made comparable.
#include <regex>
#include <string>

namespace veltra::testing {

// The seconds of a device line vary; the rest is exact.
inline std::string WithoutSeconds(const std::string& out) {
    return std::regex_replace(out, std::regex(" in [0-9]+\\.[0-9] s\n"), " in S s\n");
}

}  // namespace veltra::testing
