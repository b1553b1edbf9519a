#include "platform/CEvent.h"

#include <chrono>

namespace Zun {
namespace Platform {

void CEvent::Set() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signaled = true;
    m_changed.notify_all();
}

void CEvent::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signaled = false;
}

DWORD CEvent::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> guard(m_lock);
    const auto signaled = [this] { return m_signaled; };
    if (milliseconds == INFINITE) {
        m_changed.wait(guard, signaled);
    } else if (!m_changed.wait_for(guard, std::chrono::milliseconds(milliseconds), signaled)) {
        return WAIT_TIMEOUT;
    }
    if (!m_manualReset) {
        m_signaled = false;
    }
    return WAIT_OBJECT_0;
}

}  // namespace Platform
}  // namespace Zun
