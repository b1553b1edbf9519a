#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Zun {
namespace Server {

// A few threads that run what the link's reactors must not do on gRPC's own threads: calls into
// the fleet service, which may wait for the database. Work runs in the order it was submitted.
class CWorkPool {
public:
    // started runs first on each thread.
    explicit CWorkPool(std::size_t threads, std::function<void()> started = std::function<void()>());
    ~CWorkPool();
    CWorkPool(const CWorkPool&) = delete;
    CWorkPool& operator=(const CWorkPool&) = delete;

    void Submit(std::function<void()> work);
    // Work going on elsewhere that may still submit here: Stop waits until the token is gone.
    std::shared_ptr<void> Hold();
    // Runs what was submitted, including what that submits in turn, then ends the threads.
    void Stop();

private:
    void Run(const std::function<void()>& started);
    void Release();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_work;
    std::size_t m_busy = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace Server
}  // namespace Zun
