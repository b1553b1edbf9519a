#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/CTrustedPath.h"
#include "tools/agent/CStoreLock.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const size_t kPidTextMax = 32;

// The holder writes its pid into the file once it holds the lock; a reader may see it empty.
std::string HolderOf(int fd) {
    char text[kPidTextMax] = {};
    const ssize_t length = pread(fd, text, sizeof text - 1, 0);
    const std::string pid = length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
    return pid.empty() ? std::string() : " (pid " + pid + ")";
}

}  // namespace

CStoreLock::CStoreLock(const std::string& lockFile) : m_handle(-1) {
    Platform::CTrustedPath::EnsurePrivateFile(lockFile);
    const int fd = open(lockFile.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error(lockFile + ": cannot open: " + std::strerror(errno));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const std::string holder = HolderOf(fd);
        close(fd);
        if (error == EWOULDBLOCK) {
            throw std::runtime_error("in use by another agent" + holder);
        }
        throw std::runtime_error(lockFile + ": cannot lock: " + std::strerror(error));
    }
    const std::string pid = std::to_string(getpid());
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The pid only makes the refusal of a second agent clearer; the lock itself is held.
    }
    m_handle = fd;
}

CStoreLock::~CStoreLock() {
    close(static_cast<int>(m_handle));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
