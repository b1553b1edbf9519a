#include "ipc/CLpcWorkerPool.h"

#include <chrono>

#include "ipc/CKernel32.h"
#include "platform/DirectImports.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

using namespace Platform;

CLpcWorkerPool::~CLpcWorkerPool() {
    Stop();
}

bool CLpcWorkerPool::Start() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopping = false;
    return StartWorker();
}

bool CLpcWorkerPool::Submit(std::function<void()> work) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stopping) {
        return false;
    }
    if (m_idle <= m_work.size() && !StartWorker()) {
        return false;
    }
    m_work.push_back(std::move(work));
    m_wake.notify_one();
    return true;
}

void CLpcWorkerPool::Stop() {
    std::vector<HANDLE> threads;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        threads.swap(m_threads);
        m_wake.notify_all();
    }
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CKernel32::CloseHandle(thread);
    }
}

std::size_t CLpcWorkerPool::LiveWorkers() {
    std::lock_guard<std::mutex> guard(m_lock);
    CloseFinishedThreads();
    return m_threads.size();
}

DWORD CLpcWorkerPool::Run(void* pool) {
    static_cast<CLpcWorkerPool*>(pool)->Work();
    return 0;
}

// A worker counts as idle from its start (see StartWorker) until it takes work, and again after it.
void CLpcWorkerPool::Work() {
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        const bool woken = m_wake.wait_for(guard, std::chrono::milliseconds(m_idleMs),
                                           [this] { return m_stopping || !m_work.empty(); });
        --m_idle;
        if (!woken || m_work.empty()) {
            return;
        }
        std::function<void()> work = std::move(m_work.front());
        m_work.pop_front();
        guard.unlock();
        work();
        guard.lock();
        ++m_idle;
    }
}

// Called with the lock held.
bool CLpcWorkerPool::StartWorker() {
    CloseFinishedThreads();
    HANDLE thread = CKernel32::CreateThread(nullptr, 0, &CLpcWorkerPool::Run, this, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    m_threads.push_back(thread);
    // Counted before the thread runs, so that work submitted meanwhile does not start another.
    ++m_idle;
    return true;
}

void CLpcWorkerPool::CloseFinishedThreads() {
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (WaitForSingleObject(*it, 0) == WAIT_OBJECT_0) {
            CKernel32::CloseHandle(*it);
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
