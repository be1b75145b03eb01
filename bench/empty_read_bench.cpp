// How long an empty read lasts and how much processor it takes, on a silent
// line, on a port that was never opened, and on a line whose other end has
// gone. Every empty read should last its whole total deadline (~256 ms) and
// cost next to no processor time, so that no loop of reads can spin.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "serial/SerialPort.h"
#include "QuietOperator.h"
#include "sim/PtyPair.h"

namespace {

using veltra::Message;
using veltra::Operator;
using veltra::SerialPort;

using SilentOperator = veltra::bench::QuietOperator;

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

constexpr int kReads = 20;

void Measure(const char* what, SerialPort& port) {
    int nonEmpty = 0;
    const double cpuStart = CpuMs();
    const auto wallStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kReads; ++i) {
        if (!port.ReadPort().empty()) ++nonEmpty;
    }
    const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - wallStart;
    const double cpu = CpuMs() - cpuStart;
    std::printf("%-22s %d reads: wall %7.1f ms/read, cpu %6.3f ms/read%s\n", what, kReads, wall.count() / kReads,
                cpu / kReads, nonEmpty > 0 ? "  (some reads were not empty!)" : "");
}

}  // namespace

int main() {
    SilentOperator op;

    {
        auto pty = std::make_unique<veltra::sim::PtyPair>();
        SerialPort port(op);
        port.SetDeviceNameMap([path = pty->SlavePath()](const std::string&) { return path; });
        if (!port.OpenPort("COM3:", "19200,n,8,1")) return 1;
        Measure("silent line", port);
        pty.reset();
        Measure("other end gone", port);
        port.ClosePort();
        Measure("closed port", port);
    }
    {
        SerialPort port(op);
        Measure("never-opened port", port);
    }
    return 0;
}
