// One exchange that gets no answer, at the product's read timeouts: it waits
// out all eight reads. Prints its wall time and the CPU time it used.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "protocol/CommandExchange.h"
#include "QuietOperator.h"
#include "sim/ScriptedDevice.h"
#include "sim/SimDevice.h"

namespace {

using SilentOperator = veltra::bench::QuietOperator;

// CPU time of this thread only: the simulated device's thread is not ours.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main() {
    veltra::sim::SimDevice device(std::make_shared<veltra::sim::ScriptedDevice>());
    SilentOperator op;
    veltra::SerialPort port(op);
    port.SetDeviceNameMap([&](const std::string&) { return device.Path(); });
    if (!port.OpenPort("COM3:", "19200,n,8,1")) return 1;

    constexpr int kRounds = 5;
    const veltra::ByteString request(67, '\xA5');
    const double cpuStart = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) veltra::wrstr(port, op, request);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuStart;
    std::printf("unanswered exchange: %.1f ms wall, %.3f ms CPU (mean of %d)\n", 1000 * wall / kRounds,
                1000 * cpu / kRounds, kRounds);
    return 0;
}
