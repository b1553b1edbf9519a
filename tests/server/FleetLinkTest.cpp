#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "host/proto/Encryption.pb.h"
#include "server/admin/CCertificateAuthority.h"
#include "server/api/CLinkServer.h"
#include "server/service/CFleetService.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"
#include "tools/agent/link/CLinkStore.h"
#include "tools/agent/link/CServerLink.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Server {
namespace {

using Testing::CTestDatabase;
using Tools::Agent::CAgentLogger;
using Tools::Agent::CAgentStore;
using Tools::Agent::CServerLink;

const uint32_t kRecoveryRequest = 728;
const uint32_t kRecoveryResponse = 729;
const std::chrono::seconds kWait(30);

// The whole way of a recovery password: an agent's store, its link, the link server over mutual TLS,
// the fleet service and the database, and back with the agent's recovery-response.
class FleetLinkTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        const std::string folder = m_database->Folder();
        m_authority.reset(new CCertificateAuthority(folder + "/ca"));
        m_authority->Init({"localhost"});
        m_bundle = folder + "/pc-1.pem";
        m_authority->Enrol("pc-1", m_bundle, 1);
        m_service.reset(new CFleetService(
            m_database->Store(), m_sealer,
            [this](const std::string& serial) { return m_authority->IsCurrent(serial); },
            [](int, const std::string&) {}));
        m_server.reset(new CLinkServer({"127.0.0.1:0", m_authority->CaCertificateFile(),
                                        m_authority->ServerCertificateFile(), m_authority->ServerKeyFile()},
                                       *m_service, [](int, const std::string&) {}));
        m_server->Start();
        m_store.reset(new CAgentStore(folder + "/agent/agent.db", CAgentStore::Mode::Create));
    }

    void TearDown() override {
        m_link.reset();
        if (m_server) {
            m_server->Stop();
        }
    }

    void Connect() {
        CServerLink::Settings settings;
        settings.server = "127.0.0.1:" + std::to_string(m_server->Port());
        settings.bundle = m_bundle;
        settings.agentVersion = "test";
        settings.instance = "instance-1";
        settings.firstRetry = std::chrono::milliseconds(20);
        settings.maxRetry = std::chrono::milliseconds(200);
        m_linkStore.reset(new Tools::Agent::CLinkStore(*m_store));
        m_link.reset(new CServerLink(
            settings, *m_linkStore,
            [this](const std::string& line, const std::function<void()>& taken) {
                int64_t sequence = 0;
                m_store->InTransaction([&] {
                    sequence = Append(kRecoveryResponse, std::string());
                    taken();
                });
                std::lock_guard<std::mutex> lock(m_mutex);
                m_lines.push_back(line);
                return "{\"ok\":true,\"task\":\"recovery-response\",\"sequence\":" +
                       std::to_string(sequence) + "}";
            },
            [](const std::string&, CAgentLogger::Level) {}));
        m_link->Start();
    }

    int64_t Append(uint32_t type, const std::string& payload) {
        CAgentStore::Record record;
        record.type = type;
        record.className = "CQUILProcessRecoveryDataRequest";
        record.description = "recovery data";
        record.userContext = "test";
        record.content = "{}";
        record.payload = payload;
        return m_store->Append(record);
    }

    void ProductLists(const std::vector<std::string>& passwords) {
        Common::DataDefinition::Encryption::FDERecoveryData data;
        for (const std::string& id : passwords) {
            auto* password = data.add_recovery_passwords();
            password->set_deviceid("disk-0");
            password->set_index("1");
            password->set_recovery_password("secret of " + id);
            password->set_internalid(id);
        }
        Append(kRecoveryRequest, data.SerializeAsString());
        if (m_link) {
            m_link->Wake();
        }
    }

    bool WaitForState(const std::string& id, const std::string& state) {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            CFleetStore::Item item;
            if (m_database->Store().FindItem("pc-1", CFleetStore::kPassword, id, item) &&
                item.state == state) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, 'k')};
    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CCertificateAuthority> m_authority;
    std::string m_bundle;
    std::unique_ptr<CFleetService> m_service;
    std::unique_ptr<CLinkServer> m_server;
    std::unique_ptr<CAgentStore> m_store;
    std::unique_ptr<Tools::Agent::CLinkStore> m_linkStore;
    std::unique_ptr<CServerLink> m_link;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

TEST_P(FleetLinkTest, EscrowedPasswordIsConfirmedToTheProductAndThenByIt) {
    ProductLists({"pw-1"});
    Connect();
    ASSERT_TRUE(WaitForState("pw-1", CFleetStore::kConfirmationSent));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The confirmation, and then perhaps already the question for the product's recovery data
        // that lets its next reply confirm the items.
        ASSERT_FALSE(m_lines.empty());
        EXPECT_EQ(m_lines.front(), "{\"task\":\"recovery-response\",\"passwords\":[\"pw-1\"],\"data\":[]}");
        EXPECT_LE(m_lines.size(), 2u);
    }
    ProductLists({});
    ASSERT_TRUE(WaitForState("pw-1", CFleetStore::kConfirmed));
    const auto revealed = m_service->Reveal("pc-1", "", {"alice", 1000}, "ticket 7");
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(revealed[0].secret, "secret of pw-1");
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetLinkTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

}  // namespace
}  // namespace Server
}  // namespace Zun
