#pragma once
// A pseudo-terminal pair for the simulated device: the device keeps the master
// side; the program under test opens the slave by its path, as it would open a
// serial device. The device also holds the slave open itself until told
// otherwise, so that the master never sees a hang-up between the program's
// opens and closes.
#include <string>

namespace veltra::sim {

class PtyPair {
public:
    PtyPair();   // throws std::system_error when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return master_; }
    // Lets go of the device's own hold on the slave side.
    void ReleaseSlave();
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slaveHold_ = -1;
    std::string slavePath_;
};

}  // namespace veltra::sim
