#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/store/CFleetStore.h"
#include "server/store/CServerDatabase.h"
#include "tests/server/CPostgresCluster.h"

namespace Zun {
namespace Testing {

// A fresh server database of either engine in a temporary place, for suites parameterized over
// both. The PostgreSQL cluster is made once per test process.
class CTestDatabase {
public:
    typedef Server::CServerDatabase::Engine Engine;

    explicit CTestDatabase(Engine engine);
    ~CTestDatabase();

    // Opens (again) the database: what a restarted server sees.
    void Reopen();
    Server::CServerDatabase& Database() { return *m_database; }
    Server::CFleetStore& Store() { return *m_store; }
    const std::string& Folder() const { return m_folder; }
    Engine Kind() const { return m_engine; }

    // Runs one statement of the engine's SQL.
    void Execute(const std::string& sql);
    // Makes the database refuse inserts into the table where the condition (on NEW) holds.
    void RefuseInserts(const std::string& table, const std::string& condition = "1 = 1");
    void AllowInserts(const std::string& table);
    int64_t Count(const std::string& table);

    static std::string Name(const ::testing::TestParamInfo<Engine>& info);

private:
    Engine m_engine;
    std::string m_folder;
    std::string m_location;
    std::unique_ptr<Server::CServerDatabase> m_database;
    std::unique_ptr<Server::CFleetStore> m_store;
};

}  // namespace Testing
}  // namespace Zun
