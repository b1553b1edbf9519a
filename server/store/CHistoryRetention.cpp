#include "server/store/CHistoryRetention.h"

#include <Poco/Data/Statement.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>

#include <utility>
#include <vector>

#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

using namespace Poco::Data::Keywords;
using Poco::Data::Session;
using Poco::Data::Statement;

namespace {

const int kInfo = 1;
const int kWarn = 2;
// The advisory lock that gives one of the servers sharing a PostgreSQL database the turn to prune.
const Poco::Int64 kTurnLock = 0x7175696c00000001;  // "quil", 1

// A computer's rows past the bound or the age, in sequence order, sparing its newest row of each
// type and the rows that carried recovery items not superseded.
const char* const kRowBatch =
    "DELETE FROM agent_rows WHERE computer = ? AND sequence IN ("
    "SELECT r.sequence FROM agent_rows r WHERE r.computer = ? AND (r.sequence <= ? OR r.received_at < ?) "
    "AND r.sequence < (SELECT MAX(n.sequence) FROM agent_rows n WHERE n.computer = r.computer "
    "AND n.type = r.type) "
    "AND NOT EXISTS (SELECT 1 FROM recovery_items i WHERE i.computer = r.computer "
    "AND i.row_sequence = r.sequence AND i.state <> ?) "
    "ORDER BY r.sequence LIMIT ?)";
const char* const kItemBatch =
    "DELETE FROM recovery_items WHERE id IN (SELECT id FROM recovery_items WHERE state = ? "
    "AND superseded_at < ? LIMIT ?)";
const char* const kTaskBatch =
    "DELETE FROM tasks WHERE id IN (SELECT t.id FROM tasks t WHERE t.state = ? AND t.answered_at < ? "
    "AND NOT EXISTS (SELECT 1 FROM recovery_items i WHERE i.confirmation_task = t.id AND i.state <> ?) "
    "LIMIT ?)";

std::string IsoTime(const Poco::Timestamp& time) {
    return Poco::DateTimeFormatter::format(time, "%Y-%m-%dT%H:%M:%S.%iZ");
}

}  // namespace

const std::chrono::minutes CHistoryRetention::kInterval(60);

CHistoryRetention::CHistoryRetention(CServerDatabase& database, Bounds bounds, Log log)
    : m_database(database), m_bounds(bounds), m_log(std::move(log)) {}

CHistoryRetention::~CHistoryRetention() {
    Stop();
}

CHistoryRetention::Removed CHistoryRetention::Prune(const Poco::Timestamp& at) {
    Removed removed;
    if ((m_bounds.rowsPerComputer <= 0 && m_bounds.days <= 0) || !TakeTurn()) {
        return removed;
    }
    try {
        // Nothing is older than the empty text: without an age bound only the row bound applies.
        const std::string before =
            m_bounds.days > 0 ? IsoTime(at - Poco::Timespan(m_bounds.days * Poco::Timespan::DAYS)) : "";
        std::vector<std::pair<std::string, Poco::Int64>> computers;
        m_database.Use([&](Session& session) {
            session << "SELECT name, committed_through FROM computers", into(computers), now;
        });
        for (const auto& computer : computers) {
            if (Stopping()) {
                break;
            }
            const int64_t through =
                m_bounds.rowsPerComputer > 0 ? computer.second - m_bounds.rowsPerComputer : 0;
            if (through > 0 || !before.empty()) {
                removed.rows += PruneRows(computer.first, through, before);
            }
        }
        if (!before.empty()) {
            removed.items = PruneByAge(kItemBatch, before);
            removed.tasks = PruneByAge(kTaskBatch, before);
        }
    } catch (const std::exception& e) {
        m_log(kWarn, std::string("Retention stopped its pass: ") + e.what());
    }
    EndTurn();
    if (removed.rows + removed.items + removed.tasks > 0) {
        m_log(kInfo, "Retention removed " + std::to_string(removed.rows) + " rows, " +
                         std::to_string(removed.items) + " superseded recovery items and " +
                         std::to_string(removed.tasks) + " answered tasks");
    }
    return removed;
}

int64_t CHistoryRetention::PruneRows(const std::string& computer, int64_t throughSequence,
                                     const std::string& before) {
    int64_t total = 0;
    for (std::size_t removed = kBatch; removed == static_cast<std::size_t>(kBatch);) {
        m_database.InTransaction([&](Session& session) {
            Statement batch(session);
            batch << m_database.Placeholders(kRowBatch), bind(computer), bind(computer),
                bind(static_cast<Poco::Int64>(throughSequence)), bind(before),
                bind(std::string(CFleetStore::kSuperseded)), bind(static_cast<Poco::Int64>(kBatch));
            removed = batch.execute();
        });
        total += static_cast<int64_t>(removed);
    }
    return total;
}

// Superseded items and answered tasks: both tables' statements take the state, the time, (for
// tasks, the state items are spared in) and the batch.
int64_t CHistoryRetention::PruneByAge(const std::string& sql, const std::string& before) {
    const bool tasks = sql == kTaskBatch;
    int64_t total = 0;
    for (std::size_t removed = kBatch; removed == static_cast<std::size_t>(kBatch);) {
        m_database.InTransaction([&](Session& session) {
            Statement batch(session);
            batch << m_database.Placeholders(sql),
                bind(std::string(tasks ? CFleetStore::kAnswered : CFleetStore::kSuperseded)), bind(before);
            if (tasks) {
                batch, bind(std::string(CFleetStore::kSuperseded));
            }
            batch, bind(static_cast<Poco::Int64>(kBatch));
            removed = batch.execute();
        });
        total += static_cast<int64_t>(removed);
    }
    return total;
}

// SQLite serves one server: the turn is always its own.
bool CHistoryRetention::TakeTurn() {
    if (m_database.Kind() != CServerDatabase::Engine::PostgreSQL) {
        return true;
    }
    bool taken = false;
    m_database.Use([&](Session& session) {
        session << "SELECT pg_try_advisory_lock($1)", bind(kTurnLock), into(taken), now;
    });
    return taken;
}

void CHistoryRetention::EndTurn() {
    if (m_database.Kind() != CServerDatabase::Engine::PostgreSQL) {
        return;
    }
    try {
        bool released = false;
        m_database.Use([&](Session& session) {
            session << "SELECT pg_advisory_unlock($1)", bind(kTurnLock), into(released), now;
        });
    } catch (const std::exception& e) {
        // The lock goes with the session at the latest.
        m_log(kWarn, std::string("Retention could not give up its turn: ") + e.what());
    }
}

void CHistoryRetention::Start() {
    m_thread = std::thread([this] { Run(); });
}

void CHistoryRetention::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool CHistoryRetention::Stopping() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopping;
}

void CHistoryRetention::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        Prune(Poco::Timestamp());
        lock.lock();
        m_changed.wait_for(lock, kInterval, [this] { return m_stopping; });
    }
}

}  // namespace Server
}  // namespace Zun
