#include "sim/PtyPair.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace veltra::sim {

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave, name, &raw, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "openpty");
    }
    slaveHold_ = slave;
    slavePath_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slaveHold_, F_SETFD, FD_CLOEXEC);
}

void PtyPair::ReleaseSlave() {
    if (slaveHold_ >= 0) ::close(slaveHold_);
    slaveHold_ = -1;
}

PtyPair::~PtyPair() {
    if (slaveHold_ >= 0) ::close(slaveHold_);
    if (master_ >= 0) ::close(master_);
}

}  // namespace veltra::sim
