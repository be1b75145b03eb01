#include "sim/DeviceLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace veltra::sim {
namespace {

std::string Reason(int error) { return std::strerror(error); }

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DeviceLink::DeviceLink(std::string linkPath, std::string target)
    : linkPath_(std::move(linkPath)), target_(std::move(target)), savedPath_(linkPath_ + ".veltra-sim-saved") {
    struct stat st {};
    if (::lstat(savedPath_.c_str(), &st) == 0) {
        throw std::runtime_error(savedPath_ + " is already there: an earlier run did not end cleanly. Put it back as " +
                                 linkPath_ + " by hand, then start again.");
    }
    if (::access(Folder(linkPath_).c_str(), W_OK) != 0) {
        throw std::runtime_error("cannot publish " + linkPath_ + ": no write access to " + Folder(linkPath_) +
                                 " (run as root, or publish with --link in a folder of your own).");
    }
    if (::lstat(linkPath_.c_str(), &st) == 0) {
        if (!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) {
            throw std::runtime_error(linkPath_ + " exists and is not a device node; leaving it alone.");
        }
        if (::rename(linkPath_.c_str(), savedPath_.c_str()) != 0) {
            throw std::runtime_error("cannot move " + linkPath_ + " aside: " + Reason(errno));
        }
        movedAside_ = true;
    } else if (errno != ENOENT) {
        throw std::runtime_error("cannot look at " + linkPath_ + ": " + Reason(errno));
    }
    if (::symlink(target_.c_str(), linkPath_.c_str()) != 0) {
        const std::string reason = Reason(errno);
        Restore();
        throw std::runtime_error("cannot link " + linkPath_ + " to " + target_ + ": " + reason);
    }
    linked_ = true;
}

DeviceLink::~DeviceLink() { Restore(); }

std::string DeviceLink::Restore() {
    std::string problems;
    if (linked_) {
        linked_ = false;
        // Only our own link goes: someone may have replaced it meanwhile.
        char pointsTo[4096] = {};
        const ssize_t n = ::readlink(linkPath_.c_str(), pointsTo, sizeof pointsTo - 1);
        if (n < 0 || std::string(pointsTo, static_cast<std::size_t>(n)) != target_) {
            problems += linkPath_ + " is no longer our link; left as it is. ";
            if (movedAside_) {
                movedAside_ = false;
                return problems + "The original device node stays at " + savedPath_ + ".";
            }
        } else if (::unlink(linkPath_.c_str()) != 0) {
            problems += "cannot remove " + linkPath_ + ": " + Reason(errno) + ". ";
        }
    }
    if (movedAside_) {
        movedAside_ = false;
        if (::rename(savedPath_.c_str(), linkPath_.c_str()) != 0) {
            problems += "cannot put " + savedPath_ + " back as " + linkPath_ + ": " + Reason(errno) + ".";
        }
    }
    return problems;
}

}  // namespace veltra::sim
