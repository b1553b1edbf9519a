#include <gtest/gtest.h>

#include "server/service/CFleetView.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"

namespace Zun {
namespace Server {
namespace {

using Testing::CTestDatabase;

const int64_t kProtection = 10044;
const int64_t kConnector = 10292;
const int64_t kProduct = 10405;
const std::string kUnreachable = "{\"rows\":[[{\"id\":241,\"value\":6}]]}";
const std::string kNothing = "{\"rows\":[]}";

struct Case {
    const char* what;
    std::vector<std::pair<int64_t, std::string>> rows;  // oldest first
    const char* product;
};

// The fleet page reads every computer's newest rows at once; its verdict and protection line must be
// the ones the computer's own page reaches by reading back as far as it needs.
class FleetViewTest : public ::testing::TestWithParam<CTestDatabase::Engine> {};

TEST_P(FleetViewTest, TheFleetAtOnceJudgesTheProductAsEachComputerAlone) {
    if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
        GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
    }
    CTestDatabase database(GetParam());
    std::vector<std::pair<int64_t, std::string>> quietAfterUnreachable = {{kProtection, kUnreachable}};
    for (int i = 0; i < 12; ++i) {
        quietAfterUnreachable.push_back({kProtection, kNothing});
    }
    // Its protection row is older than the newest state rows the fleet reads at once.
    std::vector<std::pair<int64_t, std::string>> protectionBehindConnects = {{kProtection, kNothing}};
    for (int i = 0; i < 9; ++i) {
        protectionBehindConnects.push_back({kConnector, "{}"});
    }
    const Case cases[] = {
        {"pc-a", quietAfterUnreachable, "not reachable"},
        {"pc-b", {{kConnector, "{}"}, {kProtection, kUnreachable}}, "not reachable"},
        {"pc-c", {{kProtection, kUnreachable}, {kConnector, "{}"}}, "connected"},
        {"pc-d", {{kProtection, kNothing}, {kProtection, kNothing}}, "unknown"},
        {"pc-e", {{kProduct, kNothing}}, "not installed"},
        {"pc-f", {}, "unknown"},
        {"pc-g", protectionBehindConnects, "connected"},
    };
    CFleetStore& store = database.Store();
    for (const Case& c : cases) {
        CFleetStore::Computer computer;
        computer.name = c.what;
        computer.firstSeen = computer.lastSeen = "2026-12-06T10:00:00.000Z";
        store.Connected(computer);
        int64_t sequence = 0;
        for (const auto& given : c.rows) {
            CFleetStore::Row row;
            row.sequence = ++sequence;
            row.time = computer.firstSeen;
            row.type = given.first;
            row.className = "CStatusLog";
            row.content = given.second;
            store.InsertRow(c.what, row, computer.firstSeen);
        }
    }
    CFleetView view(store);
    const Poco::JSON::Array::Ptr hosts = view.Hosts();
    ASSERT_EQ(hosts->size(), sizeof cases / sizeof cases[0]);
    for (std::size_t i = 0; i < hosts->size(); ++i) {
        const Poco::JSON::Object::Ptr host = hosts->getObject(static_cast<unsigned>(i));
        const std::string name = host->getValue<std::string>("name");
        const Case& expected = cases[i];
        EXPECT_EQ(name, expected.what);
        EXPECT_EQ(host->getValue<std::string>("product"), expected.product) << name;
        EXPECT_EQ(view.ProductState(name), expected.product) << name;
        EXPECT_EQ(host->getValue<std::string>("protection"),
                  view.Host(name)->getValue<std::string>("protection"))
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetViewTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

}  // namespace
}  // namespace Server
}  // namespace Zun
