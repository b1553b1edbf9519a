#include "platform/CThread.h"

#include <system_error>
#include <thread>

namespace Zun {
namespace Platform {

std::shared_ptr<CThread> CThread::Start(LPTHREAD_START_ROUTINE routine, void* parameter) {
    if (routine == nullptr) {
        return nullptr;
    }
    std::shared_ptr<CThread> thread(new CThread);
    try {
        // The running thread keeps its object alive, so closing the handle early is harmless.
        std::thread([thread, routine, parameter] {
            thread->m_exitCode = routine(parameter);
            thread->m_finished.Set();
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return thread;
}

}  // namespace Platform
}  // namespace Zun
