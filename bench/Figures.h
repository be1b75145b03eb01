#pragma once
// The figures a bench prints of its rounds: the least and the median.
#include <algorithm>
#include <vector>

namespace veltra::bench {

struct Figures {
    double min = 0;
    double median = 0;
};

// `values` must not be empty.
inline Figures Of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

}  // namespace veltra::bench
