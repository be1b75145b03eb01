// The yardstick of the virtual machine's benchmark: how long one read on a
// silent line lasts there (the port's 256 ms deadline, as the guest's clock
// and scheduler keep it). Prints the median of five reads, in seconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "support/RecordingOperator.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltra_vm_empty_read PORT\n");
        return 64;
    }
    veltra::testing::RecordingOperator op;
    veltra::SerialPort port(op);
    if (!port.OpenPort(argv[1], veltra::kDeviceLineSettings)) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<double> seconds;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const bool empty = port.ReadPort().empty();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (empty) seconds.push_back(took.count());
    }
    if (seconds.empty()) {
        std::fprintf(stderr, "the line was never silent\n");
        return 1;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.4f\n", seconds[seconds.size() / 2]);
    return 0;
}
