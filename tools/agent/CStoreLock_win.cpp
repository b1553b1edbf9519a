#include <stdexcept>
#include <string>

#include "platform/CTrustedPath.h"
#include "tools/agent/CStoreLock.h"

#include <windows.h>

namespace Zun {
namespace Tools {
namespace Agent {

// Windows refuses a second open of a file shared with nobody, which is the lock itself; the holder's
// process id cannot be read through it.
CStoreLock::CStoreLock(const std::string& lockFile) : m_handle(0) {
    Platform::CTrustedPath::EnsurePrivateFile(lockFile);
    const HANDLE file = CreateFileA(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) {
            throw std::runtime_error("in use by another agent");
        }
        throw std::runtime_error(lockFile + ": cannot open: error " + std::to_string(GetLastError()));
    }
    m_handle = reinterpret_cast<long long>(file);
}

CStoreLock::~CStoreLock() {
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
