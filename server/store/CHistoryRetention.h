#pragma once

#include <Poco/Timestamp.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "server/store/CServerDatabase.h"

namespace Zun {
namespace Server {

// Bounds on what the server keeps of its fleet's history: each computer's rows beyond its newest
// `rowsPerComputer` sequences, and rows, superseded recovery items and answered tasks older than
// `days`. What the fleet still depends on is never removed: the newest row of each type of a
// computer (its current state), the rows that carried recovery items not superseded, those items
// themselves, tasks not answered or still named by a live item, and the audit.
//
// Removal runs in small transactions on a connection of its own, so that agents' commits go on
// between them; a pass that meets a failure stops and the next one starts over. Where several
// servers share a PostgreSQL database, one of them prunes at a time.
class CHistoryRetention {
public:
    struct Bounds {
        int64_t rowsPerComputer = 0;  // 0: no bound
        int64_t days = 0;             // 0: no bound
    };
    struct Removed {
        int64_t rows = 0;
        int64_t items = 0;
        int64_t tasks = 0;
    };
    // level: 0 debug, 1 info, 2 warn, 3 error.
    using Log = std::function<void(int level, const std::string& text)>;

    // Rows removed per transaction: short enough that an agent's commit never waits long for it.
    static const int64_t kBatch = 500;
    // Between passes. A pass that could not finish (another server pruned) waits as long.
    static const std::chrono::minutes kInterval;

    CHistoryRetention(CServerDatabase& database, Bounds bounds, Log log);
    ~CHistoryRetention();
    CHistoryRetention(const CHistoryRetention&) = delete;
    CHistoryRetention& operator=(const CHistoryRetention&) = delete;

    // One pass over the fleet as of `at`; nothing when another server holds the turn.
    Removed Prune(const Poco::Timestamp& at);
    // A pass at start and every kInterval on a thread of its own, until Stop.
    void Start();
    void Stop();

private:
    int64_t PruneRows(const std::string& computer, int64_t throughSequence, const std::string& before);
    int64_t PruneByAge(const std::string& sql, const std::string& before);
    bool TakeTurn();
    void EndTurn();
    bool Stopping();
    void Run();

    CServerDatabase& m_database;
    Bounds m_bounds;
    Log m_log;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace Server
}  // namespace Zun
