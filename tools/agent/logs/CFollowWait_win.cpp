#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "tools/agent/logs/CFollowWait.h"

namespace Zun {
namespace Tools {
namespace Agent {

struct CFollowWait::State {
    std::mutex lock;
    std::condition_variable changed;
    bool stop = false;
};

namespace {

std::shared_ptr<CFollowWait::State>& Watched() {
    static std::shared_ptr<CFollowWait::State> state;
    return state;
}

BOOL WINAPI OnControl(DWORD) {
    std::shared_ptr<CFollowWait::State> state = std::atomic_load(&Watched());
    if (state == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->stop = true;
    }
    state->changed.notify_all();
    return TRUE;
}

}  // namespace

CFollowWait::CFollowWait() : m_state(std::make_shared<State>()) {
    std::atomic_store(&Watched(), m_state);
    if (!::SetConsoleCtrlHandler(&OnControl, TRUE)) {
        m_setupError = "cannot watch for Ctrl+C (error " + std::to_string(::GetLastError()) + ")";
    }
}

CFollowWait::~CFollowWait() {
    ::SetConsoleCtrlHandler(&OnControl, FALSE);
    std::atomic_store(&Watched(), std::shared_ptr<State>());
}

CFollowWait::Event CFollowWait::Wait(std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    return m_state->changed.wait_for(guard, interval, [this] { return m_state->stop; }) ? Event::Stop
                                                                                        : Event::Due;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
