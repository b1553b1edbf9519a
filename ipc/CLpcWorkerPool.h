#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/NtTypes.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The worker threads on which the LPC client waits for replies when its caller must keep pumping
// window messages. Threads are started through the system's CreateThread as work needs them; a
// worker that gets no new work for a minute ends.
class CLpcWorkerPool {
public:
    static constexpr std::uint32_t kIdleMs = 60000;

    // idleMs is how long a worker waits for new work before it ends; tests shorten it.
    explicit CLpcWorkerPool(std::uint32_t idleMs = kIdleMs) : m_idleMs(idleMs) {}
    ~CLpcWorkerPool();
    CLpcWorkerPool(const CLpcWorkerPool&) = delete;
    CLpcWorkerPool& operator=(const CLpcWorkerPool&) = delete;

    // Starts the first worker; false when no thread can be started.
    bool Start();
    // Hands work to an idle worker, starting one when none is idle; false when that fails.
    bool Submit(std::function<void()> work);
    // Lets queued work finish, then ends every worker and waits for them.
    void Stop();
    // The workers whose threads have not ended yet.
    std::size_t LiveWorkers();

private:
    static Platform::DWORD Run(void* pool);
    void Work();
    bool StartWorker();
    void CloseFinishedThreads();

    const std::uint32_t m_idleMs;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_work;
    std::vector<Platform::HANDLE> m_threads;
    std::size_t m_idle = 0;
    bool m_stopping = false;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
