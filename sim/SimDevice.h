#pragma once
// The simulated device: plays a personality at the far end of a real
// pseudo-terminal, on a thread of its own. The program under test opens Path()
// as it would open a serial device. It can also play on a terminal that
// someone else made (a virtual machine's serial line), given open.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/ByteString.h"
#include "sim/Personality.h"
#include "sim/PtyPair.h"

namespace veltra::sim {

struct DeviceOptions {
    bool paceLine = false;  // play the line rate: every byte takes 10 bits at `baud`, both ways
    // 0: the speed set on the line, looked up as bytes arrive. On the device's
    // own pty that is the program's setting; a line given open shows its own.
    int baud = 19200;
    // Keep the slave side open in the device itself, so the line never hangs
    // up between the program's opens. A device in another process must not:
    // the program refuses a port that another process holds open.
    bool holdLine = true;
};

// The time a byte takes as `options` pace the line; when they follow the
// program's speed, `line` (a terminal) tells it.
std::chrono::nanoseconds PacedByteTime(const DeviceOptions& options, int line);

class SimDevice {
public:
    // Throws std::system_error when no pseudo-terminal or stop descriptor can be had.
    explicit SimDevice(std::shared_ptr<Personality> personality, DeviceOptions options = {});
    // Plays on `line`, an open terminal already in raw mode, which the device
    // takes over (and closes). Path() is `path`. The line's far end going away
    // ends the device: nobody will open it again.
    SimDevice(std::shared_ptr<Personality> personality, int line, std::string path, DeviceOptions options = {});
    ~SimDevice();  // Stop()
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const std::string& Path() const;  // the path the program opens
    // Every byte received so far (a copy). Bytes count as received once the
    // personality has taken them, so its accessors already reflect them.
    ByteString Received() const;
    // True once `count` bytes have been received; false after the timeout, or
    // at once when the device has stopped short of them.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
    void Stop();  // clean and prompt, also in the middle of a pause; idempotent

private:
    void Start();
    void Run();
    bool RestWhileLineIdle();  // true when told to stop meanwhile
    void Record(const ByteString& bytes);
    void MarkStopped();

    std::shared_ptr<Personality> personality_;
    DeviceOptions options_;
    std::unique_ptr<PtyPair> pty_;  // none when playing on a line given open
    int line_ = -1;                 // the pty's master, or the line given
    std::string path_;
    int stopFd_ = -1;

    mutable std::mutex recordMutex_;
    mutable std::condition_variable recordChanged_;
    ByteString received_;
    bool stopped_ = false;

    std::mutex stopMutex_;  // one Stop() joins, the others find it done
    std::thread thread_;
};

}  // namespace veltra::sim
