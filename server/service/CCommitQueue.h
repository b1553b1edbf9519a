#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/api/link.pb.h"

namespace Zun {
namespace Server {

// Rows of many computers committed together. Each writer takes what the streams handed over while
// it last committed and commits it as one group, so that a thousand agents sending at once cost a
// few transactions and not a thousand; each batch hears of its end (committed through, or why not)
// only after the transaction that held it.
class CCommitQueue {
public:
    // error is empty when the rows are committed through `through`.
    typedef std::function<void(int64_t through, const std::string& error)> Done;
    struct Batch {
        std::string computer;
        std::vector<quil::link::v1::StoredRow> rows;
        Done done;
    };
    // Commits the group and calls every batch's done, on the writer's thread.
    typedef std::function<void(std::vector<Batch>& group)> Commit;

    // Rows one group takes at most: a transaction stays short enough that acknowledgements flow.
    static const std::size_t kMaxGroupRows = 4000;

    // writerStarted runs first on each writer's thread (to bind it a database session).
    // Submitting after Stop leaves the batch unanswered.
    CCommitQueue(std::size_t writers, std::function<void()> writerStarted, Commit commit);
    ~CCommitQueue();
    CCommitQueue(const CCommitQueue&) = delete;
    CCommitQueue& operator=(const CCommitQueue&) = delete;

    void Submit(Batch batch);
    // Commits what was submitted, then ends the writers.
    void Stop();

private:
    void Run();
    std::vector<Batch> TakeGroup();

    Commit m_commit;
    const std::size_t m_writerCount;
    const std::function<void()> m_writerStarted;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_pending;
    bool m_stopping = false;
    std::vector<std::thread> m_writers;
};

}  // namespace Server
}  // namespace Zun
