#include <gtest/gtest.h>

#include <Poco/JSON/Stringifier.h>
#include <sstream>

#include "server/service/CComputerReadings.h"
#include "server/service/CFleetService.h"
#include "server/service/CFleetView.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"

namespace Zun {
namespace Server {
namespace {

using quil::link::v1::StoredRow;
using Testing::CTestDatabase;

const uint32_t kProtection = 10044;
const uint32_t kConnector = 10292;
const uint32_t kProduct = 10405;
const uint32_t kStorage = 10553;
const uint32_t kLicences = 10348;
const std::string kUnreachable = "{\"rows\":[[{\"id\":241,\"value\":6}]]}";
const std::string kNothing = "{\"rows\":[]}";
const std::string kInOrder =
    "{\"rows\":[[{\"id\":4672,\"type\":\"int\",\"value\":1},{\"id\":4670,\"type\":\"uuid\",\"value\":"
    "\"11111111-2222-3333-4444-555555555555\"},{\"id\":4673,\"type\":\"time_date\",\"value\":"
    "\"2026-12-06T10:00:00Z\"}]]}";
const std::string kLicence =
    "{\"rows\":[[{\"id\":2693,\"type\":\"string\",\"value\":\"L-1\"},{\"id\":2696,\"type\":\"int\",\"value\":"
    "1},{\"id\":2698,\"type\":\"time_date\",\"value\":\"2030-01-01T00:00:00Z\"}]]}";
const std::string kDamaged = "{\"rows\":[[";

struct Case {
    const char* what;
    std::vector<std::pair<uint32_t, std::string>> rows;  // oldest first
    const char* product;
};

std::vector<std::pair<uint32_t, std::string>> Repeated(std::vector<std::pair<uint32_t, std::string>> rows,
                                                       std::pair<uint32_t, std::string> row, int times) {
    rows.insert(rows.end(), static_cast<std::size_t>(times), row);
    return rows;
}

std::string Json(const Poco::JSON::Array::Ptr& hosts) {
    std::ostringstream text;
    Poco::JSON::Stringifier::stringify(hosts, text);
    return text.str();
}

// The fleet's list reads what the service kept of each computer as its rows arrived, in batches
// of any size; a computer the server knew before it kept them is read once from its rows. Both
// must say what the newest telling rows said.
class FleetViewTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        m_service.reset(new CFleetService(
            m_database->Store(), m_sealer, [](const std::string&) { return true; },
            [](int, const std::string&) {}));
    }

    // The rows go in one batch, or one batch per row, as the agent's link may send them.
    void Send(const Case& c, bool batched) {
        quil::link::v1::Hello hello;
        hello.set_agent_version("1.0.0");
        m_service->Connected(c.what, "0A1B", hello, [] {});
        std::vector<StoredRow> rows;
        for (const auto& given : c.rows) {
            StoredRow row;
            row.set_sequence(static_cast<int64_t>(rows.size()) + 1);
            row.set_time("2026-12-06T10:00:" + std::to_string(10 + rows.size()) + ".000Z");
            row.set_type(given.first);
            row.set_class_name("CStatusLog");
            row.set_content(given.second);
            rows.push_back(row);
            if (!batched) {
                m_service->Commit(c.what, {row});
            }
        }
        if (batched && !rows.empty()) {
            m_service->Commit(c.what, rows);
        }
    }

    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, 'k')};
    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CFleetService> m_service;
};

TEST_P(FleetViewTest, WhatIsKeptAsRowsArriveIsWhatTheRowsTell) {
    const Case cases[] = {
        {"pc-a", Repeated({{kProtection, kUnreachable}}, {kProtection, kNothing}, 12), "not reachable"},
        {"pc-b", {{kConnector, "{}"}, {kProtection, kUnreachable}}, "not reachable"},
        {"pc-c", {{kProtection, kUnreachable}, {kConnector, "{}"}}, "connected"},
        {"pc-d", {{kProtection, kNothing}, {kProtection, kNothing}}, "unknown"},
        {"pc-e", {{kProduct, kNothing}, {kStorage, kInOrder}, {kLicences, kLicence}}, "not installed"},
        {"pc-f", {}, "unknown"},
        {"pc-g", Repeated({{kProtection, kNothing}}, {kConnector, "{}"}, 9), "connected"},
        {"pc-h",
         {{kStorage, kInOrder}, {kLicences, kLicence}, {kStorage, kDamaged}, {kLicences, kDamaged}},
         "unknown"},
        {"pc-i", {{kProtection, kDamaged}, {kConnector, "{}"}}, "connected"},
    };
    bool batched = false;
    for (const Case& c : cases) {
        Send(c, batched = !batched);
    }
    // Its disks are those the product keeps recovery material for.
    StoredRow recovery;
    recovery.set_sequence(4);
    recovery.set_type(CFleetService::kRecoveryRequest);
    for (const char* device : {"disk-1", "disk-0", "disk-1"}) {
        quil::link::v1::RecoveryItem* item = recovery.add_recovery_items();
        item->set_kind(quil::link::v1::RecoveryItem::PASSWORD);
        item->set_internal_id(std::string("pw-") + device + std::to_string(recovery.recovery_items_size()));
        item->set_device_id(device);
        item->set_index(std::to_string(recovery.recovery_items_size()));
        item->set_secret("secret");
    }
    m_service->Commit("pc-e", {recovery});
    CFleetView view(m_database->Store());
    const Poco::JSON::Array::Ptr kept = view.Hosts();
    ASSERT_EQ(kept->size(), sizeof cases / sizeof cases[0]);
    for (std::size_t i = 0; i < kept->size(); ++i) {
        const Poco::JSON::Object::Ptr host = kept->getObject(static_cast<unsigned>(i));
        EXPECT_EQ(host->getValue<std::string>("name"), cases[i].what);
        EXPECT_EQ(host->getValue<std::string>("product"), cases[i].product) << cases[i].what;
        EXPECT_EQ(host->getValue<std::string>("protection"),
                  view.Host(cases[i].what)->getValue<std::string>("protection"));
    }
    EXPECT_EQ(kept->getObject(4)->getValue<std::string>("encryption").rfind("in order", 0), 0u);
    EXPECT_EQ(kept->getObject(4)->getValue<std::string>("licence_expiry").rfind("2030-01-01", 0), 0u);
    EXPECT_EQ(kept->getObject(7)->getValue<std::string>("encryption"), "");
    const Poco::JSON::Array::Ptr disks = kept->getObject(4)->getArray("disks");
    ASSERT_EQ(disks->size(), 2u);
    EXPECT_EQ(disks->getElement<std::string>(0), "disk-0");
    EXPECT_EQ(disks->getElement<std::string>(1), "disk-1");
    EXPECT_EQ(Json(view.Host("pc-e")->getArray("disks")), Json(disks));
    EXPECT_EQ(kept->getObject(3)->getArray("disks")->size(), 0u);
    EXPECT_NE(kept->getObject(8)->getValue<std::string>("protection").find("damaged row #1"),
              std::string::npos);

    // As a database from before the server kept them: each computer read from its rows, once.
    m_database->Execute(
        "UPDATE computers SET product = '', protection = '', encryption = '', licence_expiry = '', "
        "readings_kept = 0");
    EXPECT_EQ(Json(view.Hosts()), Json(kept));
    for (const CFleetStore::Computer& computer : m_database->Store().Computers()) {
        EXPECT_TRUE(computer.readingsKept) << computer.name;
    }
    EXPECT_EQ(Json(view.Hosts()), Json(kept));
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetViewTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

}  // namespace
}  // namespace Server
}  // namespace Zun
