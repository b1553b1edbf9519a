#pragma once

#include <Poco/Data/Session.h>
#include <boost/thread/recursive_mutex.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Zun {
namespace Server {

// The server's database: SQLite in a file (the default) or PostgreSQL (for fleets), both through
// Poco::Data, holding one schema that CSchemaMigrations brings up to date when it opens. Every use
// of a session goes through Use or InTransaction, which take that session's lock: a Poco session
// serves one thread at a time. Threads share one session unless they bound one of their own
// (PostgreSQL: the link's workers and committers, so that none waits behind another's round trips).
// Failures are std::runtime_error naming the database.
class CServerDatabase {
public:
    enum class Engine { SQLite, PostgreSQL };
    typedef std::function<void(Poco::Data::Session&)> Work;

    // A PostgreSQL connection string starts with "postgresql:" (then libpq's key=value pairs) or is a
    // postgres:// or postgresql:// URI; anything else is the SQLite file, made owner-only when missing.
    explicit CServerDatabase(const std::string& location);
    ~CServerDatabase();
    CServerDatabase(const CServerDatabase&) = delete;
    CServerDatabase& operator=(const CServerDatabase&) = delete;

    // Runs work in one transaction: all it wrote is kept, or (when it throws, or the commit fails)
    // nothing. What work threw is thrown again after the rollback. Nested calls join the outer one.
    void InTransaction(const Work& work);
    // Runs work on the session outside any transaction of ours (reads).
    void Use(const Work& work);
    // Gives the calling thread a session of its own for Use and InTransaction, up to a few sessions
    // in all; beyond them threads share them in turn. SQLite keeps its one session: its writers take
    // turns on the whole file anyway. Call before the thread first uses the database.
    void BindThread();
    // How many sessions are open (the shared one included).
    std::size_t Sessions();

    Engine Kind() const { return m_engine; }
    // The statement with its '?' placeholders written as the engine takes them: PostgreSQL numbers
    // them ($1, $2, ...), which Poco's connector leaves to us.
    std::string Placeholders(const std::string& sql) const;
    // The location without a PostgreSQL password, for logs and --print-config.
    std::string Describe() const;
    int SchemaVersion();

    static Engine EngineOf(const std::string& location);
    // What libpq takes for a PostgreSQL location: its key=value pairs or the URI.
    static std::string PostgresConnection(const std::string& location);
    static std::string EngineName(Engine engine);

    // Sessions a database opens at most (PostgreSQL); each is a backend process of the server.
    static const std::size_t kMaxSessions = 8;

private:
    struct Slot {
        std::unique_ptr<Poco::Data::Session> session;
        boost::recursive_mutex lock;
        int depth = 0;
    };

    std::unique_ptr<Poco::Data::Session> Open();
    Slot& Current();

    Engine m_engine;
    std::string m_location;  // may hold a password: never logged, used to open more sessions
    std::string m_description;
    const uint64_t m_id;  // tells apart databases that a thread bound sessions of
    std::mutex m_slotsLock;
    std::vector<std::unique_ptr<Slot>> m_slots;  // [0]: the shared session
    std::size_t m_nextShared = 1;
};

}  // namespace Server
}  // namespace Zun
