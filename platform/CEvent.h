#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/CKernelObject.h"

namespace Zun {
namespace Platform {

// An unnamed event of this process, reset by hand or automatically by the wait it satisfies.
class CEvent : public CKernelObject {
public:
    CEvent(bool manualReset, bool signaled) : m_manualReset(manualReset), m_signaled(signaled) {}

    void Set();
    void Reset();
    DWORD Wait(DWORD milliseconds) override;

private:
    bool m_manualReset;
    bool m_signaled;
    std::mutex m_lock;
    std::condition_variable m_changed;
};

}  // namespace Platform
}  // namespace Zun
