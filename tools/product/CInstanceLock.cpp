#include "tools/product/CInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/CTrustedPath.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

const char* const kLockName = "quil-product.lock";
// "<pid>\n" with room to spare.
constexpr std::size_t kPidTextSize = 32;

}  // namespace

CInstanceLock::CInstanceLock(std::string root) : m_root(std::move(root)), m_path(m_root + "/" + kLockName) {}

CInstanceLock::~CInstanceLock() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool CInstanceLock::Acquire(std::string& error) {
    try {
        Platform::CTrustedPath::EnsurePrivateFile(m_path);
    } catch (const std::runtime_error& e) {
        error = e.what();
        return false;
    }
    m_fd = open(m_path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0) {
        error = m_path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        error = held ? "another quil-product" + HolderText() + " already serves the object root " + m_root
                     : m_path + ": cannot lock: " + std::strerror(errno);
        close(m_fd);
        m_fd = -1;
        return false;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(m_fd, 0) != 0 ||
        pwrite(m_fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        error = m_path + ": cannot record the pid: " + std::strerror(errno);
        return false;
    }
    return true;
}

// " (pid N)", or nothing when the holder has not written its pid yet.
std::string CInstanceLock::HolderText() const {
    char text[kPidTextSize] = {};
    const ssize_t got = pread(m_fd, text, sizeof text - 1, 0);
    const long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
    return pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string();
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
