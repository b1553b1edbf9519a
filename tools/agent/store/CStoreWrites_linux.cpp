#include <Poco/Data/SQLite/Utility.h>
#include <sqlite3.h>

#include <stdexcept>

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

}  // namespace

struct CStoreWrites::Prepared {
    explicit Prepared(sqlite3* db)
        : db(db),
          insertMessage(db, kInsertMessage),
          insertTask(db, kInsertTask),
          raiseTaskState(db, kRaiseTaskState),
          deleteTask(db, kDeleteTask) {}
    sqlite3* db;
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
