#include "tools/agent/CAgentStore.h"

#include <Poco/Data/LOB.h>
#include <Poco/Data/SQLite/Connector.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/Timestamp.h>

#include <mutex>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

using namespace Poco::Data::Keywords;

namespace {

// Long enough for `quil-agent logs` to read while the agent writes.
const std::size_t kBusySeconds = 5;

void RegisterConnector() {
    static std::once_flag once;
    std::call_once(once, [] { Poco::Data::SQLite::Connector::registerConnector(); });
}

std::string Message(const std::exception& e) {
    if (const Poco::Exception* poco = dynamic_cast<const Poco::Exception*>(&e)) {
        return poco->displayText();
    }
    return e.what();
}

}  // namespace

CAgentStore::CAgentStore(const std::string& path, Mode mode) : m_path(path) {
    RegisterConnector();
    try {
        if (mode == Mode::ReadOnly && !Poco::File(path).exists()) {
            throw std::runtime_error("no such file");
        }
        if (mode == Mode::Create) {
            Poco::Path folder = Poco::Path(path).parent();
            if (!folder.toString().empty()) {
                Poco::File(folder).createDirectories();
            }
        }
        m_session.reset(new Poco::Data::Session("SQLite", path, kBusySeconds));
        m_session->setConnectionTimeout(kBusySeconds);
        // A write-ahead log lets "logs" read while the agent writes, and with synchronous=NORMAL a
        // message costs no disk flush of its own: a crash of the machine may lose the last messages
        // written, never the database.
        if (mode == Mode::Create) {
            *m_session << "PRAGMA journal_mode=WAL", now;
        }
        *m_session << "PRAGMA synchronous=NORMAL", now;
        mode == Mode::Create ? CreateSchema() : CheckSchema();
    } catch (const std::exception& e) {
        throw Failure("cannot open", e);
    }
}

CAgentStore::~CAgentStore() = default;

std::runtime_error CAgentStore::Failure(const std::string& what, const std::exception& e) const {
    return std::runtime_error("Agent database " + m_path + ": " + what + ": " + Message(e));
}

void CAgentStore::CreateSchema() {
    *m_session << "CREATE TABLE IF NOT EXISTS messages ("
                  "sequence INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, type INTEGER NOT NULL, "
                  "class TEXT NOT NULL, description TEXT NOT NULL, user_context TEXT NOT NULL, "
                  "content TEXT NOT NULL, payload BLOB)",
        now;
    *m_session << "CREATE INDEX IF NOT EXISTS messages_by_type ON messages (type, sequence)", now;
    *m_session << "CREATE TABLE IF NOT EXISTS agent (name TEXT PRIMARY KEY, value TEXT NOT NULL)", now;
    *m_session << "CREATE TABLE IF NOT EXISTS tasks (sequence INTEGER PRIMARY KEY, line TEXT NOT NULL, "
                  "state INTEGER NOT NULL)",
        now;
}

void CAgentStore::CheckSchema() {
    int tables = 0;
    *m_session << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('messages', 'agent')",
        into(tables), now;
    if (tables != 2) {
        throw std::runtime_error("not an agent database");
    }
}

int64_t CAgentStore::Append(const Record& record) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    try {
        std::string time = Now();
        Poco::Int64 type = record.type;
        // A row without a serialized form keeps NULL, so that readers can tell "none" from "empty".
        Poco::Data::Statement insert(*m_session);
        insert << "INSERT INTO messages (time, type, class, description, user_context, content, payload) "
                  "VALUES (?, ?, ?, ?, ?, ?, "
               << (record.payload.empty() ? "NULL)" : "?)"),
            useRef(time), use(type), useRef(record.className), useRef(record.description),
            useRef(record.userContext), useRef(record.content);
        Poco::Data::BLOB blob(reinterpret_cast<const unsigned char*>(record.payload.data()),
                              record.payload.size());
        if (!record.payload.empty()) {
            insert, use(blob);
        }
        insert.execute();
        Poco::Int64 sequence = 0;
        *m_session << "SELECT last_insert_rowid()", into(sequence), now;
        return sequence;
    } catch (const std::exception& e) {
        throw Failure("cannot store " + record.description, e);
    }
}

void CAgentStore::InTransaction(const std::function<void()>& work) {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        try {
            m_session->begin();
        } catch (const std::exception& e) {
            throw Failure("cannot begin a transaction", e);
        }
    }
    try {
        work();
    } catch (...) {
        Commit();
        throw;
    }
    Commit();
}

// What was appended stays even when part of the work failed: each append reports its own failure.
void CAgentStore::Commit() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    try {
        m_session->commit();
    } catch (const std::exception& e) {
        throw Failure("cannot commit", e);
    }
}

std::vector<CAgentStore::Record> CAgentStore::Query(const Filter& filter) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::vector<Poco::Int64> sequences, types;
    std::vector<std::string> times, classes, descriptions, contexts, contents;
    try {
        Poco::Int64 type = filter.type;
        std::string since = filter.since;
        *m_session << "SELECT sequence, time, type, class, description, user_context, content FROM messages "
                      "WHERE (? < 0 OR type = ?) AND time >= ? ORDER BY sequence",
            use(type), use(type), use(since), into(sequences), into(times), into(types), into(classes),
            into(descriptions), into(contexts), into(contents), now;
    } catch (const std::exception& e) {
        throw Failure("cannot read messages", e);
    }
    std::vector<Record> records(sequences.size());
    for (size_t i = 0; i < records.size(); ++i) {
        Record& r = records[i];
        r.sequence = sequences[i];
        r.time = times[i];
        r.type = static_cast<uint32_t>(types[i]);
        r.className = classes[i];
        r.description = descriptions[i];
        r.userContext = contexts[i];
        r.content = contents[i];
    }
    return records;
}

std::string CAgentStore::Payload(int64_t sequence) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::vector<Poco::Data::BLOB> blobs;
    try {
        Poco::Int64 key = sequence;
        *m_session << "SELECT payload FROM messages WHERE sequence = ? AND payload IS NOT NULL", use(key),
            into(blobs), now;
    } catch (const std::exception& e) {
        throw Failure("cannot read message " + std::to_string(sequence), e);
    }
    if (blobs.empty()) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(blobs[0].rawContent()), blobs[0].size());
}

std::string CAgentStore::InstanceUUID(const std::function<std::string()>& generate) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    try {
        std::vector<std::string> values;
        *m_session << "SELECT value FROM agent WHERE name = 'instance_uuid'", into(values), now;
        if (!values.empty()) {
            return values[0];
        }
        std::string value = generate();
        *m_session << "INSERT INTO agent (name, value) VALUES ('instance_uuid', ?)", use(value), now;
        return value;
    } catch (const std::exception& e) {
        throw Failure("cannot keep the instance UUID", e);
    }
}

void CAgentStore::AddTask(int64_t sequence, const std::string& line) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    try {
        Poco::Int64 key = sequence;
        int state = static_cast<int>(TaskState::Stored);
        *m_session << "INSERT INTO tasks (sequence, line, state) VALUES (?, ?, ?)", use(key), useRef(line),
            use(state), now;
    } catch (const std::exception& e) {
        throw Failure("cannot keep task " + std::to_string(sequence), e);
    }
}

void CAgentStore::SetTaskState(int64_t sequence, TaskState state) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    try {
        Poco::Int64 key = sequence;
        int value = static_cast<int>(state);
        *m_session << "UPDATE tasks SET state = ? WHERE sequence = ? AND state < ?", use(value), use(key),
            use(value), now;
    } catch (const std::exception& e) {
        throw Failure("cannot update task " + std::to_string(sequence), e);
    }
}

void CAgentStore::FinishTask(int64_t sequence) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    try {
        Poco::Int64 key = sequence;
        *m_session << "DELETE FROM tasks WHERE sequence = ?", use(key), now;
    } catch (const std::exception& e) {
        throw Failure("cannot finish task " + std::to_string(sequence), e);
    }
}

std::vector<CAgentStore::Task> CAgentStore::UnfinishedTasks() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::vector<Poco::Int64> sequences;
    std::vector<std::string> lines;
    std::vector<int> states;
    try {
        *m_session << "SELECT sequence, line, state FROM tasks ORDER BY sequence", into(sequences),
            into(lines), into(states), now;
    } catch (const std::exception& e) {
        throw Failure("cannot read the unfinished tasks", e);
    }
    std::vector<Task> tasks(sequences.size());
    for (size_t i = 0; i < tasks.size(); ++i) {
        tasks[i].sequence = sequences[i];
        tasks[i].line = lines[i];
        tasks[i].state = states[i] == 0 ? TaskState::Stored : TaskState::Handed;
    }
    return tasks;
}

std::string CAgentStore::Now() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp(), "%Y-%m-%dT%H:%M:%S.%iZ");
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
