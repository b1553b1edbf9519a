#include <Poco/Data/SQLite/Utility.h>
#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tools/agent/store/CStoreWrites.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kInsertMessage =
    "INSERT INTO messages (time, type, class, description, user_context, content, payload) "
    "VALUES (?, ?, ?, ?, ?, ?, ?)";
const char* const kInsertTask = "INSERT INTO tasks (sequence, line, state) VALUES (?, ?, ?)";
const char* const kRaiseTaskState = "UPDATE tasks SET state = ?2 WHERE sequence = ?1 AND state < ?2";
const char* const kDeleteTask = "DELETE FROM tasks WHERE sequence = ?";

// One prepared statement; each run leaves it reset with its values cleared, whatever happened, so
// that no statement stays open across a commit or a rollback.
class CStatement {
public:
    CStatement(sqlite3* db, const char* sql) : m_db(db) {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK) {
            const std::string reason = sqlite3_errmsg(db);
            sqlite3_finalize(m_statement);
            throw std::runtime_error(reason);
        }
    }
    ~CStatement() { sqlite3_finalize(m_statement); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    CStatement& Bind(int index, int64_t value) {
        return Check(sqlite3_bind_int64(m_statement, index, value));
    }
    // The text must stay until Run returns.
    CStatement& Bind(int index, const std::string& text) {
        return Check(
            sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC));
    }
    CStatement& BindBlob(int index, const std::string* bytes) {
        return Check(bytes == nullptr ? sqlite3_bind_null(m_statement, index)
                                      : sqlite3_bind_blob(m_statement, index, bytes->data(),
                                                          static_cast<int>(bytes->size()), SQLITE_STATIC));
    }
    void Run() {
        const int result = sqlite3_step(m_statement);
        Clear();
        if (result != SQLITE_DONE) {
            // sqlite3_reset has taken the statement's error over to the connection.
            throw std::runtime_error(sqlite3_errmsg(m_db));
        }
    }

private:
    CStatement& Check(int result) {
        if (result != SQLITE_OK) {
            const std::string reason = sqlite3_errmsg(m_db);
            Clear();
            throw std::runtime_error(reason);
        }
        return *this;
    }
    void Clear() {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }

    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

// SQLite's own size at which the write-ahead log is copied back into the database, in pages.
constexpr int kCheckpointPages = 1000;

// Checkpoints off the writers' path. SQLite's own checkpoint runs inside the commit that takes the
// log past its size, and flushes the log and the database to disk there (milliseconds, tens of them
// on a busy machine) while the committing thread waits: the module's worker, say, whose task may not
// leave before its mark is committed. Here such a commit only wakes a thread of ours, which copies
// the log back through a connection of its own while the writer goes on.
class CCheckpointer {
public:
    explicit CCheckpointer(sqlite3* db) : m_db(db) {
        const char* file = sqlite3_db_filename(db, "main");
        // The mode read back makes the new connection open the log, without which it has nothing to
        // checkpoint.
        if (file == nullptr || *file == '\0' ||
            sqlite3_open_v2(file, &m_own, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
                SQLITE_OK ||
            sqlite3_exec(m_own, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(m_own);  // the writer keeps checkpointing its own commits
            m_own = nullptr;
            return;
        }
        m_thread = std::thread([this] { Run(); });
        sqlite3_wal_hook(m_db, &CCheckpointer::Committed, this);
    }
    ~CCheckpointer() {
        if (m_own == nullptr) {
            return;
        }
        sqlite3_wal_autocheckpoint(m_db, kCheckpointPages);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stopping = true;
        }
        m_changed.notify_one();
        m_thread.join();
        sqlite3_close(m_own);
    }
    CCheckpointer(const CCheckpointer&) = delete;
    CCheckpointer& operator=(const CCheckpointer&) = delete;

private:
    static int Committed(void* self, sqlite3*, const char*, int pages) {
        if (pages >= kCheckpointPages) {
            auto* checkpointer = static_cast<CCheckpointer*>(self);
            std::lock_guard<std::mutex> guard(checkpointer->m_lock);
            if (!checkpointer->m_due) {
                checkpointer->m_due = true;
                checkpointer->m_changed.notify_one();
            }
        }
        return SQLITE_OK;
    }
    void Run() {
        std::unique_lock<std::mutex> guard(m_lock);
        while (true) {
            m_changed.wait(guard, [this] { return m_due || m_stopping; });
            if (m_stopping) {
                return;
            }
            guard.unlock();
            // Passive: it copies what it can without waiting for the writer, whose next commit past
            // the size asks again. A failure (a full disk) leaves the log to the next round.
            sqlite3_wal_checkpoint_v2(m_own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
            guard.lock();
            m_due = false;
        }
    }

    sqlite3* m_db;
    sqlite3* m_own = nullptr;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_due = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace

struct CStoreWrites::Prepared {
    explicit Prepared(sqlite3* db)
        : db(db),
          checkpointer(db),
          insertMessage(db, kInsertMessage),
          insertTask(db, kInsertTask),
          raiseTaskState(db, kRaiseTaskState),
          deleteTask(db, kDeleteTask) {}
    sqlite3* db;
    CCheckpointer checkpointer;
    CStatement insertMessage;
    CStatement insertTask;
    CStatement raiseTaskState;
    CStatement deleteTask;
};

CStoreWrites::CStoreWrites(Poco::Data::Session& session)
    : m_session(session), m_prepared(new Prepared(Poco::Data::SQLite::Utility::dbHandle(session))) {}

CStoreWrites::~CStoreWrites() = default;

int64_t CStoreWrites::InsertMessage(const Message& message) {
    m_prepared->insertMessage.Bind(1, message.time)
        .Bind(2, message.type)
        .Bind(3, *message.className)
        .Bind(4, *message.description)
        .Bind(5, *message.userContext)
        .Bind(6, *message.content)
        .BindBlob(7, message.payload)
        .Run();
    return sqlite3_last_insert_rowid(m_prepared->db);
}

void CStoreWrites::InsertTask(int64_t sequence, const std::string& line, int state) {
    m_prepared->insertTask.Bind(1, sequence).Bind(2, line).Bind(3, static_cast<int64_t>(state)).Run();
}

void CStoreWrites::RaiseTaskState(int64_t sequence, int state) {
    m_prepared->raiseTaskState.Bind(1, sequence).Bind(2, static_cast<int64_t>(state)).Run();
}

void CStoreWrites::DeleteTask(int64_t sequence) {
    m_prepared->deleteTask.Bind(1, sequence).Run();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
