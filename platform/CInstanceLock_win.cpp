#include <windows.h>

#include "platform/CInstanceLock.h"
#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

// Windows refuses a second open of a file shared with nobody, which is the lock itself; the holder's
// process id cannot be read through it.
CInstanceLock::CInstanceLock(const std::string& lockFile) : m_handle(0) {
    CTrustedPath::EnsurePrivateFile(lockFile);
    const HANDLE file = CreateFileA(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) {
            throw CHeld(std::string());
        }
        throw std::runtime_error(lockFile + ": cannot open: error " + std::to_string(GetLastError()));
    }
    m_handle = reinterpret_cast<long long>(file);
}

CInstanceLock::~CInstanceLock() {
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

}  // namespace Platform
}  // namespace Zun
