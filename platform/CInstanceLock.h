#pragma once

#include <stdexcept>
#include <string>

namespace Zun {
namespace Platform {

// One process at a time for what must have a single owner (an agent's database, a product's object
// root): an advisory lock on a lock file, held for the life of the object and dropped by the system
// however the process ends, so a crashed holder never blocks the next one. The file keeps the
// holder's process id for the refusal the next one gets, and is never removed (removing it would let
// two processes lock two different files of one name).
class CInstanceLock {
public:
    // Another process holds the lock; Holder() is " (pid N)", or empty where it cannot be known.
    class CHeld : public std::runtime_error {
    public:
        explicit CHeld(const std::string& holder) : std::runtime_error("held" + holder), m_holder(holder) {}
        const std::string& Holder() const { return m_holder; }

    private:
        std::string m_holder;
    };

    // Creates the file owner-only where missing (CTrustedPath) and takes the lock. Throws CHeld when
    // another process holds it, std::runtime_error naming the file for anything else.
    explicit CInstanceLock(const std::string& lockFile);
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

private:
    long long m_handle;  // a descriptor on Linux, a HANDLE on Windows
};

}  // namespace Platform
}  // namespace Zun
