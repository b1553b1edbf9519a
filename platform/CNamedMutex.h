#pragma once

#include <pthread.h>

#include <memory>
#include <string>

#include "platform/CKernelObject.h"

namespace Zun {
namespace Platform {

// A named mutex shared between processes: a robust, recursive, process-shared pthread mutex in a
// file of the object namespace. A holder that dies leaves it abandoned; the next wait reports that
// and owns it.
class CNamedMutex : public CKernelObject {
public:
    ~CNamedMutex() override;

    // Creates the mutex under name (replacing an old one); null on failure.
    static std::shared_ptr<CNamedMutex> Create(const std::string& name);
    // Opens an existing mutex; null when missing, malformed or owned by an untrusted user.
    static std::shared_ptr<CNamedMutex> Open(const std::string& path);

    // WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED.
    DWORD Wait(DWORD milliseconds) override;
    bool Release();

private:
    struct Shared;
    explicit CNamedMutex(Shared* shared) : m_shared(shared) {}
    int TimedLock(DWORD milliseconds);

    Shared* m_shared;
};

}  // namespace Platform
}  // namespace Zun
