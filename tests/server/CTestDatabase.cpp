#include "tests/server/CTestDatabase.h"

#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>

namespace Zun {
namespace Testing {

using Server::CServerDatabase;

namespace {

CPostgresCluster& Cluster() {
    static CPostgresCluster cluster;
    return cluster;
}

}  // namespace

CTestDatabase::CTestDatabase(Engine engine) : m_engine(engine) {
    char pattern[] = "/tmp/quil-server-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_folder = pattern;
    m_location = engine == Engine::SQLite ? m_folder + "/server.db" : Cluster().NewDatabase();
    Reopen();
}

CTestDatabase::~CTestDatabase() {
    m_store.reset();
    m_database.reset();
    std::system(("rm -rf '" + m_folder + "'").c_str());
}

void CTestDatabase::Reopen() {
    m_store.reset();
    m_database.reset();
    m_database.reset(new CServerDatabase(m_location));
    m_store.reset(new Server::CFleetStore(*m_database));
}

void CTestDatabase::Execute(const std::string& sql) {
    m_database->Use([&](Poco::Data::Session& session) { session << sql, Poco::Data::Keywords::now; });
}

void CTestDatabase::RefuseInserts(const std::string& table, const std::string& condition) {
    const std::string name = "test_refuses_" + table;
    if (m_engine == Engine::SQLite) {
        Execute("CREATE TRIGGER " + name + " BEFORE INSERT ON " + table + " WHEN " + condition +
                " BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
        return;
    }
    Execute("CREATE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF " + condition +
            " THEN RAISE EXCEPTION 'refused by the test'; END IF; RETURN NEW; END $$");
    Execute("CREATE TRIGGER " + name + " BEFORE INSERT ON " + table + " FOR EACH ROW EXECUTE FUNCTION " +
            name + "()");
}

void CTestDatabase::AllowInserts(const std::string& table) {
    const std::string name = "test_refuses_" + table;
    Execute("DROP TRIGGER " + name + (m_engine == Engine::SQLite ? std::string() : " ON " + table));
}

int64_t CTestDatabase::Count(const std::string& table) {
    Poco::Int64 count = 0;
    m_database->Use([&](Poco::Data::Session& session) {
        session << "SELECT COUNT(*) FROM " + table, Poco::Data::Keywords::into(count),
            Poco::Data::Keywords::now;
    });
    return count;
}

std::string CTestDatabase::Name(const ::testing::TestParamInfo<Engine>& info) {
    return CServerDatabase::EngineName(info.param);
}

}  // namespace Testing
}  // namespace Zun
