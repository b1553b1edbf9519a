#include "server/service/CCommitQueue.h"

namespace Zun {
namespace Server {

CCommitQueue::CCommitQueue(std::size_t writers, std::function<void()> writerStarted, Commit commit)
    : m_commit(std::move(commit)), m_writerCount(writers), m_writerStarted(std::move(writerStarted)) {}

CCommitQueue::~CCommitQueue() {
    Stop();
}

// The writers start with the first batch: a service that only ever commits on its caller's thread
// (the administrator's tools, tests) opens no sessions for them.
void CCommitQueue::Submit(Batch batch) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (m_writers.size() < m_writerCount && !m_stopping) {
            m_writers.emplace_back([this] { Run(); });
        }
        m_pending.push_back(std::move(batch));
    }
    m_changed.notify_one();
}

void CCommitQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    std::vector<std::thread> writers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        writers.swap(m_writers);
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
}

void CCommitQueue::Run() {
    if (m_writerStarted) {
        m_writerStarted();
    }
    while (true) {
        std::vector<Batch> group = TakeGroup();
        if (group.empty()) {
            return;
        }
        m_commit(group);
    }
}

// Whole batches, oldest first; a batch larger than a group on its own makes a group of its own.
std::vector<CCommitQueue::Batch> CCommitQueue::TakeGroup() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_pending.empty() || m_stopping; });
    std::vector<Batch> group;
    std::size_t rows = 0;
    while (!m_pending.empty() && (group.empty() || rows + m_pending.front().rows.size() <= kMaxGroupRows)) {
        rows += m_pending.front().rows.size();
        group.push_back(std::move(m_pending.front()));
        m_pending.pop_front();
    }
    return group;
}

}  // namespace Server
}  // namespace Zun
