#include "sim/AttachedLine.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace veltra::sim {

int OpenAttachedLine(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error(path + " is not a terminal: " + std::strerror(error));
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error("cannot set " + path + " to 19200 8N1: " + std::strerror(error));
    }
    // A line used by an earlier device may still hold what was sent to it.
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

}  // namespace veltra::sim
