#include "server/api/CWorkPool.h"

namespace Zun {
namespace Server {

CWorkPool::CWorkPool(std::size_t threads, std::function<void()> started) {
    for (std::size_t i = 0; i < threads; ++i) {
        m_threads.emplace_back([this, started] { Run(started); });
    }
}

CWorkPool::~CWorkPool() {
    Stop();
}

void CWorkPool::Submit(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_work.push_back(std::move(work));
    }
    m_changed.notify_one();
}

// Counted as busy: no thread leaves while work elsewhere may still submit more.
std::shared_ptr<void> CWorkPool::Hold() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_busy;
    }
    return std::shared_ptr<void>(nullptr, [this](void*) { Release(); });
}

void CWorkPool::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_busy;
    }
    m_changed.notify_all();
}

void CWorkPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
}

// A thread leaves only when nothing is queued and no other thread could still queue more.
void CWorkPool::Run(const std::function<void()>& started) {
    if (started) {
        started();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return !m_work.empty() || (m_stopping && m_busy == 0); });
        if (m_work.empty()) {
            m_changed.notify_all();
            return;
        }
        std::function<void()> work = std::move(m_work.front());
        m_work.pop_front();
        ++m_busy;
        lock.unlock();
        work();
        lock.lock();
        --m_busy;
        if (m_stopping) {
            m_changed.notify_all();
        }
    }
}

}  // namespace Server
}  // namespace Zun
