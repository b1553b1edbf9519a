#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/CInstanceLock.h"
#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

namespace {

// "<pid>\n" with room to spare.
const size_t kPidTextMax = 32;

// The holder writes its pid once it holds the lock; a reader may find the file still empty.
std::string HolderOf(int fd) {
    char text[kPidTextMax] = {};
    const ssize_t length = pread(fd, text, sizeof text - 1, 0);
    const long pid = length > 0 ? std::strtol(text, nullptr, 10) : 0;
    return pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string();
}

}  // namespace

CInstanceLock::CInstanceLock(const std::string& lockFile) : m_handle(-1) {
    CTrustedPath::EnsurePrivateFile(lockFile);
    const int fd = open(lockFile.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error(lockFile + ": cannot open: " + std::strerror(errno));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const std::string holder = HolderOf(fd);
        close(fd);
        if (error == EWOULDBLOCK) {
            throw CHeld(holder);
        }
        throw std::runtime_error(lockFile + ": cannot lock: " + std::strerror(error));
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The pid only makes the next refusal clearer; the lock itself is held.
    }
    m_handle = fd;
}

CInstanceLock::~CInstanceLock() {
    close(static_cast<int>(m_handle));
}

}  // namespace Platform
}  // namespace Zun
