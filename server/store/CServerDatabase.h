#pragma once

#include <Poco/Data/Session.h>
#include <boost/thread/recursive_mutex.hpp>
#include <functional>
#include <memory>
#include <string>

namespace Zun {
namespace Server {

// The server's database: SQLite in a file (the default) or PostgreSQL (for fleets), both through
// Poco::Data, holding one schema that CSchemaMigrations brings up to date when it opens. Every use
// of the session goes through Use or InTransaction, which take the database's lock: a Poco session
// serves one thread at a time. Failures are std::runtime_error naming the database.
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

private:
    void Open(const std::string& location);

    Engine m_engine;
    std::string m_description;
    std::unique_ptr<Poco::Data::Session> m_session;
    boost::recursive_mutex m_lock;
    int m_depth = 0;
};

}  // namespace Server
}  // namespace Zun
