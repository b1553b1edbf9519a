#include "server/store/CServerDatabase.h"

#include <Poco/Data/PostgreSQL/Connector.h>
#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Exception.h>
#include <atomic>
#include <boost/thread/lock_guard.hpp>
#include <regex>
#include <stdexcept>

#include "platform/CTrustedPath.h"
#include "server/store/CSchemaMigrations.h"

namespace Zun {
namespace Server {

using namespace Poco::Data::Keywords;

namespace {

const std::string kKeywordPrefix = "postgresql:";
const std::string kUriPrefixes[] = {"postgresql://", "postgres://"};
// A writer waits this long for another connection's lock before its statement fails.
const int kBusyMilliseconds = 5000;
// Negative: a size in KiB rather than in pages.
const int kCacheKibibytes = -64 * 1024;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string WithoutPassword(const std::string& location) {
    static const std::regex keyword("password\\s*=\\s*\\S+");
    static const std::regex uri("(://[^:/@]*):[^@]*@");
    return std::regex_replace(std::regex_replace(location, keyword, "password=***"), uri, "$1:***@");
}

std::atomic<uint64_t> g_nextDatabaseId(1);

// The session the calling thread bound, and of which database.
struct Binding {
    uint64_t database = 0;
    void* slot = nullptr;
};
thread_local Binding t_binding;

void RegisterConnectors() {
    static const bool registered = [] {
        Poco::Data::SQLite::Connector::registerConnector();
        Poco::Data::PostgreSQL::Connector::registerConnector();
        return true;
    }();
    (void)registered;
}

}  // namespace

CServerDatabase::Engine CServerDatabase::EngineOf(const std::string& location) {
    for (const std::string& prefix : kUriPrefixes) {
        if (StartsWith(location, prefix)) {
            return Engine::PostgreSQL;
        }
    }
    return StartsWith(location, kKeywordPrefix) ? Engine::PostgreSQL : Engine::SQLite;
}

std::string CServerDatabase::PostgresConnection(const std::string& location) {
    return StartsWith(location, kKeywordPrefix) ? location.substr(kKeywordPrefix.size()) : location;
}

std::string CServerDatabase::EngineName(Engine engine) {
    return engine == Engine::SQLite ? "sqlite" : "postgresql";
}

CServerDatabase::CServerDatabase(const std::string& location)
    : m_engine(EngineOf(location)),
      m_location(location),
      m_description(WithoutPassword(location)),
      m_id(g_nextDatabaseId++) {
    RegisterConnectors();
    try {
        m_slots.emplace_back(new Slot);
        m_slots.front()->session = Open();
        CSchemaMigrations::Apply(*this);
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("Database " + m_description + ": " + e.displayText());
    } catch (const std::exception& e) {
        throw std::runtime_error("Database " + m_description + ": " + e.what());
    }
}

CServerDatabase::~CServerDatabase() = default;

std::unique_ptr<Poco::Data::Session> CServerDatabase::Open() {
    std::unique_ptr<Poco::Data::Session> session;
    if (m_engine == Engine::PostgreSQL) {
        session.reset(
            new Poco::Data::Session(Poco::Data::PostgreSQL::Connector::KEY, PostgresConnection(m_location)));
        // Notices ("already exists, skipping") would go to standard error through libpq.
        *session << "SET client_min_messages = warning", now;
        return session;
    }
    // The file holds sealed secrets and the audit: owner-only before SQLite opens it.
    Platform::CTrustedPath::EnsurePrivateFile(m_location);
    session.reset(new Poco::Data::Session(Poco::Data::SQLite::Connector::KEY, m_location));
    *session << "PRAGMA busy_timeout = " << kBusyMilliseconds, now;
    *session << "PRAGMA journal_mode = WAL", now;
    *session << "PRAGMA secure_delete = ON", now;
    // A fleet page reads every computer's newest rows: SQLite's default 2 MiB of cached pages holds
    // a few hundred computers' worth, and the rest come back from the kernel on every page.
    *session << "PRAGMA cache_size = " << kCacheKibibytes, now;
    return session;
}

void CServerDatabase::BindThread() {
    if (m_engine != Engine::PostgreSQL) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_slotsLock);
    Slot* slot = nullptr;
    if (m_slots.size() < kMaxSessions) {
        std::unique_ptr<Slot> opened(new Slot);
        try {
            opened->session = Open();
        } catch (const Poco::Exception& e) {
            throw std::runtime_error("Database " + m_description + ": " + e.displayText());
        }
        slot = opened.get();
        m_slots.push_back(std::move(opened));
    } else {
        slot = m_slots[m_nextShared].get();
        m_nextShared = m_nextShared + 1 < m_slots.size() ? m_nextShared + 1 : 1;
    }
    t_binding.database = m_id;
    t_binding.slot = slot;
}

std::size_t CServerDatabase::Sessions() {
    std::lock_guard<std::mutex> guard(m_slotsLock);
    return m_slots.size();
}

CServerDatabase::Slot& CServerDatabase::Current() {
    if (t_binding.database == m_id) {
        return *static_cast<Slot*>(t_binding.slot);
    }
    return *m_slots.front();
}

void CServerDatabase::InTransaction(const Work& work) {
    Slot& slot = Current();
    boost::lock_guard<boost::recursive_mutex> guard(slot.lock);
    if (slot.depth > 0) {
        Use(work);
        return;
    }
    slot.session->begin();
    ++slot.depth;
    try {
        Use(work);
        --slot.depth;
    } catch (...) {
        --slot.depth;
        try {
            slot.session->rollback();
        } catch (const std::exception&) {
            // The connection is gone with the transaction; what work threw says more.
        }
        throw;
    }
    try {
        slot.session->commit();
    } catch (const Poco::Exception& e) {
        try {
            slot.session->rollback();
        } catch (const std::exception&) {
            // Nothing was kept either way.
        }
        throw std::runtime_error("Database " + m_description + ": commit failed: " + e.displayText());
    }
}

void CServerDatabase::Use(const Work& work) {
    Slot& slot = Current();
    boost::lock_guard<boost::recursive_mutex> guard(slot.lock);
    try {
        work(*slot.session);
    } catch (const Poco::Exception& e) {
        // Poco's what() is the exception's class name alone; the text names the statement.
        throw std::runtime_error("Database " + m_description + ": " + e.displayText());
    }
}

// Quoted text is left alone: a '?' inside a literal is no placeholder.
std::string CServerDatabase::Placeholders(const std::string& sql) const {
    if (m_engine == Engine::SQLite) {
        return sql;
    }
    std::string numbered;
    bool quoted = false;
    int count = 0;
    for (const char c : sql) {
        quoted = c == '\'' ? !quoted : quoted;
        if (c == '?' && !quoted) {
            numbered += "$" + std::to_string(++count);
        } else {
            numbered += c;
        }
    }
    return numbered;
}

std::string CServerDatabase::Describe() const {
    return EngineName(m_engine) + " " + m_description;
}

int CServerDatabase::SchemaVersion() {
    int version = 0;
    Use([&](Poco::Data::Session& session) { version = CSchemaMigrations::Current(session); });
    return version;
}

}  // namespace Server
}  // namespace Zun
