#pragma once

#include <memory>

#include "platform/CEvent.h"

namespace Zun {
namespace Platform {

// A thread started through the substitute; its handle is signaled when the routine returns.
class CThread : public CKernelObject {
public:
    // Null when the thread cannot be started.
    static std::shared_ptr<CThread> Start(LPTHREAD_START_ROUTINE routine, void* parameter);
    DWORD Wait(DWORD milliseconds) override { return m_finished.Wait(milliseconds); }
    DWORD ExitCode() const { return m_exitCode; }

private:
    CThread() : m_finished(true, false) {}

    CEvent m_finished;
    DWORD m_exitCode = 0;
};

}  // namespace Platform
}  // namespace Zun
