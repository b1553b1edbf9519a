#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// One agent per database: an advisory lock on "<database>.lock", held for the life of the object and
// released by the system when the process ends, however it ends. Readers ("logs") never take it.
class CStoreLock {
public:
    // Throws std::runtime_error saying so (with the holder's process id where it is known) when
    // another agent holds the lock; the caller names the database.
    explicit CStoreLock(const std::string& lockFile);
    ~CStoreLock();
    CStoreLock(const CStoreLock&) = delete;
    CStoreLock& operator=(const CStoreLock&) = delete;

    static std::string FileFor(const std::string& database) { return database + ".lock"; }

private:
    long long m_handle;  // a descriptor on Linux, a HANDLE on Windows
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
