#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "host/proto/Encryption.pb.h"
#include "server/api/CTlsRecordBuffers.h"
#include "tests/server/CLinkTestBed.h"
#include "tools/agent/link/CLinkStore.h"
#include "tools/agent/link/CReconnectBackoff.h"
#include "tools/agent/link/CServerLink.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Testing {
namespace {

using Tools::Agent::CAgentLogger;
using Tools::Agent::CAgentStore;
using Tools::Agent::CServerLink;

const std::chrono::seconds kWait(20);

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
const uint32_t kStatusLog = 10348;
const uint32_t kRecoveryDataRequest = 728;

// One agent's side: its store in the test bed's folder and a link to the bed's server.
class ServerLinkTest : public ::testing::Test {
protected:
    void SetUp() override { OpenStore(CAgentStore::Limits{0, 0, true}); }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_holdTasks = false;
            m_logged.notify_all();
        }
        m_link.reset();
        m_store.reset();
    }

    void OpenStore(const CAgentStore::Limits& limits) {
        m_store.reset();
        m_store.reset(new CAgentStore(m_bed.Folder() + "/agent/agent.db", CAgentStore::Mode::Create, limits));
    }

    int64_t Append(int count, uint32_t type = kStatusLog, const std::string& payload = std::string()) {
        int64_t last = 0;
        for (int i = 0; i < count; ++i) {
            CAgentStore::Record record;
            record.type = type;
            record.className = "CStatusLog";
            record.description = "row " + std::to_string(i);
            record.userContext = "test";
            record.content = "{\"n\":" + std::to_string(i) + "}";
            record.payload = payload;
            last = m_store->Append(record);
        }
        if (m_link) {
            m_link->Wake();
        }
        return last;
    }

    void Connect(const std::string& bundle) {
        m_link.reset();
        CServerLink::Settings settings;
        settings.server = m_bed.Address();
        settings.bundle = bundle;
        settings.agentVersion = "test";
        settings.instance = "instance-1";
        settings.firstRetry = std::chrono::milliseconds(20);
        settings.maxRetry = std::chrono::milliseconds(200);
        m_linkStore.reset(new Tools::Agent::CLinkStore(*m_store));
        m_link.reset(new CServerLink(
            settings, *m_linkStore,
            [this](const std::string& line, const std::function<void()>& taken) {
                taken();
                std::unique_lock<std::mutex> lock(m_mutex);
                m_tasks.push_back(line);
                m_logged.notify_all();
                m_logged.wait(lock, [this] { return !m_holdTasks; });
                return std::string("{\"ok\":true,\"task\":\"x\"}");
            },
            [this](const std::string& text, CAgentLogger::Level) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_log += text + "\n";
                m_logged.notify_all();
            }));
        m_link->Start();
    }

    bool WaitForAgentLog(const std::string& text) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_logged.wait_for(lock, kWait, [&] { return m_log.find(text) != std::string::npos; });
    }

    std::vector<int64_t> Received() {
        std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
        std::vector<int64_t> sequences;
        for (const auto& row : m_bed.Handler().rows) {
            sequences.push_back(row.sequence());
        }
        return sequences;
    }

    bool WaitForCommitted(int64_t through) {
        CRecordingHandler& handler = m_bed.Handler();
        return handler.WaitFor([&] { return handler.committed["pc-1"] >= through; }) &&
               WaitForAgentLog("acknowledged through #" + std::to_string(through) + "\n");
    }

    CLinkTestBed m_bed;
    std::unique_ptr<CAgentStore> m_store;
    std::unique_ptr<Tools::Agent::CLinkStore> m_linkStore;
    std::unique_ptr<CServerLink> m_link;
    std::mutex m_mutex;
    std::condition_variable m_logged;
    std::string m_log;
    std::vector<std::string> m_tasks;
    bool m_holdTasks = false;  // tasks run until this is cleared
};

TEST_F(ServerLinkTest, RowsArriveInOrderUnderTheCertificatesNameAndAreAcknowledged) {
    std::string serial;
    const std::string bundle = m_bed.Enrol("pc-1", 30, &serial);
    const std::size_t releasingBefore = Server::CTlsRecordBuffers::Released();
    Append(5);
    Connect(bundle);
    ASSERT_TRUE(WaitForCommitted(5));
    // Both ends are in this process: gRPC made each end's SSL object through the server's SSL_new.
    EXPECT_GE(Server::CTlsRecordBuffers::Released(), releasingBefore + 2);
    Append(3);
    ASSERT_TRUE(WaitForCommitted(8));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 8}), Received());
    EXPECT_EQ(8, m_store->Acknowledged());
    std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
    EXPECT_EQ(std::vector<std::string>{"pc-1"}, m_bed.Handler().computers);
    EXPECT_EQ(std::vector<std::string>{serial}, m_bed.Handler().serials);
    EXPECT_EQ(std::vector<std::string>{"instance-1"}, m_bed.Handler().instances);
    EXPECT_EQ("row 1", m_bed.Handler().rows[1].description());
    EXPECT_EQ("{\"n\":1}", m_bed.Handler().rows[1].content());
}

TEST_F(ServerLinkTest, AReconnectResendsOnlyWhatTheServerHasNotCommitted) {
    const std::string bundle = m_bed.Enrol("pc-1");
    {
        std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
        m_bed.Handler().committed["pc-1"] = 3;  // from an earlier connection
    }
    Append(6);
    Connect(bundle);
    ASSERT_TRUE(WaitForCommitted(6));
    m_link.reset();
    ASSERT_TRUE(m_bed.Handler().WaitFor([&] { return m_bed.Handler().disconnects == 1; }));
    Append(2);
    Connect(bundle);
    ASSERT_TRUE(WaitForCommitted(8));
    EXPECT_EQ((std::vector<int64_t>{4, 5, 6, 7, 8}), Received());
}

TEST_F(ServerLinkTest, AReplacedDatabaseIsReportedNotSilentlySkipped) {
    {
        std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
        m_bed.Handler().committed["pc-1"] = 10;  // rows of the database this one replaced
    }
    Append(2);
    Connect(m_bed.Enrol("pc-1"));
    EXPECT_TRUE(WaitForAgentLog("more than this database holds (#2)")) << m_log;
}

TEST_F(ServerLinkTest, RowsOfManyCommitsGoInFewTransactions) {
    const std::string bundle = m_bed.Enrol("pc-1");
    Append(3000);
    Connect(bundle);
    ASSERT_TRUE(WaitForCommitted(3000));
    std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
    EXPECT_EQ(3000u, m_bed.Handler().rows.size());
    EXPECT_LT(m_bed.Handler().commits, 1000);
}

TEST_F(ServerLinkTest, RecoveryItemsTravelUnsealedInTheProductsOrder) {
    Common::DataDefinition::Encryption::FDERecoveryData data;
    auto* password = data.add_recovery_passwords();
    password->set_deviceid("disk-0");
    password->set_index("1");
    password->set_recovery_password("123456-654321");
    password->set_internalid("p-1");
    auto* block = data.add_recovery_data_blocks();
    block->set_deviceid("disk-0");
    block->set_recovery_data(std::string("\x00\x01\x02", 3));
    block->set_internalid("d-1");
    Append(1, kRecoveryDataRequest, data.SerializeAsString());
    Connect(m_bed.Enrol("pc-1"));
    ASSERT_TRUE(WaitForCommitted(1));
    std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
    const auto& items = m_bed.Handler().rows.at(0).recovery_items();
    ASSERT_EQ(2, items.size());
    EXPECT_EQ(quil::link::v1::RecoveryItem::PASSWORD, items[0].kind());
    EXPECT_EQ("123456-654321", items[0].secret());
    EXPECT_EQ("1", items[0].index());
    EXPECT_EQ("p-1", items[0].internal_id());
    EXPECT_EQ(quil::link::v1::RecoveryItem::DATA, items[1].kind());
    EXPECT_EQ(std::string("\x00\x01\x02", 3), items[1].secret());
    EXPECT_EQ("d-1", items[1].internal_id());
}

TEST_F(ServerLinkTest, TasksRunOnceEachAndAreAnswered) {
    m_bed.Handler().Queue(1, "{\"task\":\"a\"}");
    m_bed.Handler().Queue(2, "{\"task\":\"b\"}");
    Connect(m_bed.Enrol("pc-1"));
    CRecordingHandler& handler = m_bed.Handler();
    ASSERT_TRUE(handler.WaitFor([&] { return handler.answers.size() == 2; }));
    handler.Queue(3, "{\"task\":\"c\"}");  // while connected: the stream is woken
    ASSERT_TRUE(handler.WaitFor([&] { return handler.answers.size() == 3; }));
    handler.Requeue();  // as if every answer was lost
    ASSERT_TRUE(handler.WaitFor([&] { return handler.answers.size() == 6; }));
    std::lock_guard<std::mutex> lock(m_mutex);
    EXPECT_EQ((std::vector<std::string>{"{\"task\":\"a\"}", "{\"task\":\"b\"}", "{\"task\":\"c\"}"}),
              m_tasks);
    std::lock_guard<std::mutex> handlerLock(handler.mutex);
    for (std::size_t i = 0; i < handler.answers.size(); ++i) {
        EXPECT_EQ(static_cast<int64_t>(i % 3 + 1), handler.answers[i].id());
        EXPECT_TRUE(handler.answers[i].ok());
    }
    EXPECT_EQ("{\"ok\":true,\"task\":\"x\"}", handler.answers[0].answer());
    EXPECT_NE(std::string::npos, handler.answers[3].answer().find("repeated"));
}

// The stream ends while the agent still runs a task: the server hears which delivery went
// unanswered, and only that one.
TEST_F(ServerLinkTest, AStreamThatEndsNamesTheDeliveriesLeftUnanswered) {
    CRecordingHandler& handler = m_bed.Handler();
    handler.Queue(1, "{\"task\":\"a\"}");
    Connect(m_bed.Enrol("pc-1"));
    ASSERT_TRUE(handler.WaitFor([&] { return handler.answers.size() == 1; }));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdTasks = true;
    }
    handler.Queue(2, "{\"task\":\"b\"}");
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(m_logged.wait_for(lock, kWait, [this] { return m_tasks.size() == 2; }));
    }
    m_bed.StopServer();
    ASSERT_TRUE(handler.WaitFor([&] { return handler.disconnects == 1; }));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdTasks = false;
        m_logged.notify_all();
    }
    std::lock_guard<std::mutex> lock(handler.mutex);
    EXPECT_EQ(std::vector<int64_t>{2}, handler.unanswered);
}

enum class Refusal { UnknownCa, Expired, Revoked };

struct RefusalCase {
    Refusal refusal;
    const char* serverLog;
};

class ServerLinkRefusalTest : public ServerLinkTest, public ::testing::WithParamInterface<RefusalCase> {};

// Each refusal leaves a line on both sides, and nothing of the agent's is taken.
TEST_P(ServerLinkRefusalTest, IsLoggedOnBothSidesAndNothingIsCommitted) {
    std::string bundle;
    switch (GetParam().refusal) {
        case Refusal::UnknownCa: {
            // A key and certificate of another CA, with the server's CA so that the agent trusts it.
            Server::CCertificateAuthority other(m_bed.Folder() + "/other-ca");
            other.Init({});
            other.Enrol("pc-1", m_bed.Folder() + "/foreign.pem", 30);
            const std::string foreign = ReadFile(m_bed.Folder() + "/foreign.pem");
            bundle = m_bed.Folder() + "/mixed.pem";
            std::ofstream(bundle) << foreign.substr(0, foreign.rfind("-----BEGIN CERTIFICATE"))
                                  << ReadFile(m_bed.Authority().CaCertificateFile());
            ::chmod(bundle.c_str(), 0600);
            break;
        }
        case Refusal::Expired:
            bundle = m_bed.Enrol("pc-1", -1);
            break;
        case Refusal::Revoked:
            bundle = m_bed.Enrol("pc-1");
            m_bed.Authority().Revoke("pc-1");
            m_bed.Handler().Refuse("the certificate of pc-1 was revoked");
            break;
    }
    Append(2);
    Connect(bundle);
    EXPECT_TRUE(m_bed.WaitForLog(GetParam().serverLog));
    EXPECT_TRUE(WaitForAgentLog("the server refused this computer's certificate")) << m_log;
    std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
    EXPECT_TRUE(m_bed.Handler().rows.empty());
    EXPECT_EQ(0, m_store->Acknowledged());
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, ServerLinkRefusalTest,
    ::testing::Values(RefusalCase{Refusal::UnknownCa, "unable to get local issuer certificate"},
                      RefusalCase{Refusal::Expired, "certificate has expired"},
                      RefusalCase{Refusal::Revoked, "the certificate of pc-1 was revoked"}));

TEST_F(ServerLinkTest, AServerThatIsNotTheBundlesIsRefused) {
    Server::CCertificateAuthority other(m_bed.Folder() + "/other-ca");
    other.Init({});
    // The bundle's CA is another one than the server's: the agent must not talk to this server.
    const std::string bundle = m_bed.Folder() + "/foreign.pem";
    other.Enrol("pc-1", bundle, 30);
    Connect(bundle);
    EXPECT_TRUE(WaitForAgentLog("the server's certificate is not one of the bundle's CA")) << m_log;
}

struct PruneCase {
    bool keepUnsent;
    int64_t acknowledged;
    std::vector<int64_t> left;
};

class UnsentRowsTest : public ::testing::TestWithParam<PruneCase> {};

// --keep-rows 2 never takes a row the server has not acknowledged.
TEST_P(UnsentRowsTest, PruningStopsAtWhatTheServerAcknowledged) {
    CLinkTestBed bed;
    CAgentStore store(bed.Folder() + "/agent/agent.db", CAgentStore::Mode::Create,
                      CAgentStore::Limits{2, 0, GetParam().keepUnsent});
    for (int i = 0; i < 6; ++i) {
        CAgentStore::Record record;
        record.type = kStatusLog;
        record.className = record.description = record.userContext = "r";
        record.content = "{}";
        store.Append(record);
    }
    store.Acknowledge(GetParam().acknowledged);
    store.Prune();
    std::vector<int64_t> left;
    for (const CAgentStore::Record& record : store.Query(CAgentStore::Filter())) {
        left.push_back(record.sequence);
    }
    EXPECT_EQ(GetParam().left, left);
}

INSTANTIATE_TEST_SUITE_P(Limits, UnsentRowsTest,
                         ::testing::Values(PruneCase{false, 0, {5, 6}},
                                           PruneCase{true, 0, {1, 2, 3, 4, 5, 6}},
                                           PruneCase{true, 3, {4, 5, 6}}, PruneCase{true, 6, {5, 6}}));

TEST(TlsRecordBuffersTest, EverySslObjectOfTheProcessGivesItsBuffersBackWhenIdle) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_method()), &SSL_CTX_free);
    ASSERT_TRUE(context);
    const std::size_t before = Server::CTlsRecordBuffers::Released();
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), &SSL_free);
    ASSERT_TRUE(ssl);
    EXPECT_EQ(SSL_MODE_RELEASE_BUFFERS, SSL_get_mode(ssl.get()) & SSL_MODE_RELEASE_BUFFERS);
    EXPECT_EQ(before + 1, Server::CTlsRecordBuffers::Released());
}

TEST(ReconnectBackoffTest, WaitsAreDrawnBelowABoundThatDoublesToItsCeilingAndResets) {
    using std::chrono::milliseconds;
    Tools::Agent::CReconnectBackoff backoff(milliseconds(1000), milliseconds(5000));
    const std::vector<int64_t> bounds = {1000, 2000, 4000, 5000, 5000};
    bool varied = false;
    for (int64_t bound : bounds) {
        EXPECT_EQ(bound, backoff.Bound().count());
        const milliseconds wait = backoff.Next();
        EXPECT_LE(0, wait.count());
        EXPECT_GE(bound, wait.count());
        varied = varied || wait.count() != bound;
    }
    EXPECT_TRUE(varied);  // jitter, not the bound itself
    backoff.Reset();
    EXPECT_EQ(1000, backoff.Bound().count());
}

}  // namespace
}  // namespace Testing
}  // namespace Zun
