#include <gtest/gtest.h>

#include <atomic>

#include "bus/CQUILRequest.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "module/CQUILConnectorModule.h"
#include "platform/CRegistryKey.h"
#include "tasks/CGetEncryptionRecoveryDataTask.h"
#include "tasks/CGetEncryptionStorageStatusTask.h"
#include "tasks/CGetLicenseTask.h"
#include "tasks/CGetStatusTask.h"
#include "tasks/CGetTaskStatusTask.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tests/support/CTestHost.h"

using namespace Zun;
using Connectors::QUILConnector::CQUILConnectorModule;
using Testing::CTestHost;

namespace {

// The product channel as the module sees it: starts fail while `failStarts` is set.
class CFakeChannel : public Connectors::Common::IChannel, public Connectors::Common::IWatchedChannel {
public:
    void Start() override {
        ++starts;
        if (failStarts) {
            throw std::runtime_error("Cannot start pixlink channel: Ping failed");
        }
    }
    void SendRequest(const std::vector<uint8_t>&) override { ++requests; }
    void SetBufferReceiver(const boost::shared_ptr<Connectors::Common::IBufferReceiver>&) override {}
    void Stop() override { ++stops; }
    bool PingProduct(std::string&) override {
        ++pings;
        return true;
    }
    uint32_t ReadBroadcast(uint32_t) override { return broadcast; }
    uint32_t GetLastValue(uint32_t) override { return 0xFFFFFFFF; }
    void SetLastValue(uint32_t, uint32_t) override {}

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> pings{0};
    std::atomic<int> requests{0};
    std::atomic<uint32_t> broadcast{0xFFFFFFFF};  // a value other than the last makes the watchdog ask
    std::atomic<bool> failStarts{false};
};

class CTestableModule : public CQUILConnectorModule {
public:
    explicit CTestableModule(const boost::shared_ptr<CFakeChannel>& channel)
        : CQUILConnectorModule(1, boost::chrono::milliseconds(1), channel, channel) {}
    ~CTestableModule() override { Terminate(true); }
};

class QUILConnectorModuleTest : public ::testing::Test {
protected:
    void Install(bool withValue) {
        Platform::CRegistryKey key(CQUILConnectorModule::RegistryKey, false);
        ASSERT_TRUE(key.SetString(withValue ? "ProductVersion" : "InstallPath", "5.1"));
    }

    Testing::CTemporaryObjectRoot root;
    CTestHost host;
    boost::shared_ptr<CFakeChannel> channel = boost::make_shared<CFakeChannel>();
};

TEST(QUILConnectorModuleIntervalsTest, TheHostsModuleReconnectsAndWatchesEveryTenSeconds) {
    const CQUILConnectorModule production;
    EXPECT_EQ(10000, production.GetReconnectIntervalMs());
    EXPECT_EQ(boost::chrono::seconds(10), production.GetWatchdogPeriod());
}

TEST_F(QUILConnectorModuleTest, ProductPresenceIsTheRegistryValue) {
    enum Setup { NoKey, KeyWithoutValue, ValuePresent };
    for (Setup setup : {NoKey, KeyWithoutValue, ValuePresent}) {
        Testing::CTemporaryObjectRoot root;
        if (setup != NoKey) {
            Install(setup == ValuePresent);
        }
        CTestHost host;
        CTestableModule module(channel);
        module.Initialize(host);
        EXPECT_EQ(setup == ValuePresent, module.IsActivated()) << setup;
        EXPECT_EQ(
            setup == ValuePresent ? 0u : 1u,
            host.CountLines(
                "Connector was deactivated. No tasks will be processed and no logs will be produced.", 2));
    }
}

TEST_F(QUILConnectorModuleTest, UnreachableProductIsReportedOnEveryAttempt) {
    Install(true);
    channel->failStarts = true;
    CTestableModule module(channel);
    module.Initialize(host);
    module.Start();
    ASSERT_TRUE(host.WaitFor([&] { return host.CountPublished(10044) >= 2; }));
    module.Terminate(true);
    EXPECT_GE(host.CountLines("Cannot start pixlink channel: Ping failed", 3), 2u);
    EXPECT_GE(host.CountLines(
                  "Starting QUIL connector module failed with: Cannot start pixlink channel: Ping failed", 4),
              2u);
    for (const auto& p : host.PublishedOfType(10044)) {
        auto log = boost::dynamic_pointer_cast<Common::Message::Logs::CStatusLog>(p.message);
        ASSERT_TRUE(log && log->IsReadOnly());
        EXPECT_NO_THROW(log->Validate());
        const auto& row = *log->GetRows()->GetRow(0);
        EXPECT_EQ(6, row.GetInt(241));
        EXPECT_EQ(0x0710000000000221LL, row.GetResId(247));
        EXPECT_EQ(0x00000001000000B3LL, row.GetResId(248));
        EXPECT_EQ(CTestHost::InstanceUUID(), row.GetUuid(235).uuid());
    }
    EXPECT_EQ(0u, host.CountPublished(10292));
    EXPECT_EQ(0u, host.CountPublished(10405));
}

TEST_F(QUILConnectorModuleTest, ConnectAnnouncesTheConnectorInThreeValidLogs) {
    Install(true);
    CTestableModule module(channel);
    module.Initialize(host);
    module.Start();
    ASSERT_TRUE(host.WaitFor([&] { return host.CountPublished(10044) == 1; }));
    const auto connector = host.PublishedOfType(10292);
    const auto product = host.PublishedOfType(10405);
    const auto protection = host.PublishedOfType(10044);
    ASSERT_EQ(1u, connector.size());
    ASSERT_EQ(1u, product.size());
    for (const auto& p : {connector[0], product[0], protection[0]}) {
        auto log = boost::dynamic_pointer_cast<Common::Message::CLogMessage>(p.message);
        EXPECT_TRUE(log->IsReadOnly());
        EXPECT_NO_THROW(log->Validate()) << log->Describe();
    }
    EXPECT_EQ((std::vector<Common::Kernel::MessageType>{10292, 10405, 10044}), host.PublishedTypes())
        << "connector, product, then protection status";
    auto productLog =
        boost::dynamic_pointer_cast<Common::Message::Logs::CMultiProductStatusLog>(product[0].message);
    EXPECT_EQ("velm.local.products.quil.computer", productLog->GetRows()->GetRow(0)->GetString(3560));
    EXPECT_EQ(0x071000000000081CLL, productLog->GetRows()->GetRow(0)->GetResId(4429));
    auto protectionLog =
        boost::dynamic_pointer_cast<Common::Message::Logs::CStatusLog>(protection[0].message);
    EXPECT_EQ(1, protectionLog->GetRows()->GetRow(0)->GetInt(241));
    EXPECT_EQ(-1, protectionLog->GetRows()->GetRow(0)->GetResId(248));
    ASSERT_TRUE(host.WaitFor([&] { return channel->pings.load() >= 2; })) << "the watchdog runs";
    module.Stop();
    EXPECT_GE(channel->stops.load(), 1);
    const int pings = channel->pings.load();
    EXPECT_FALSE(host.WaitFor([&] { return channel->pings.load() > pings; }, std::chrono::milliseconds(200)))
        << "Stop ended the watchdog";
    EXPECT_TRUE(host.WaitFor([&] { return module.Terminate(false); }));
}

// The watchdog publishes with its own thread's default context, whoever sent what the worker serves.
TEST_F(QUILConnectorModuleTest, WatchdogRequestsCarryTheDefaultContext) {
    Install(true);
    CTestableModule module(channel);
    module.Initialize(host);
    module.Start();
    ASSERT_TRUE(host.WaitFor([&] { return host.CountPublished(10044) == 1; }));
    // A status request from someone: once the worker has sent it on, that sender is its current one.
    host.Deliver(boost::make_shared<Common::Message::Connectors::QUILConnector::CQUILRequest>(0),
                 boost::make_shared<Common::Kernel::CUserContext>("someone"));
    ASSERT_TRUE(host.WaitFor([&] { return channel->requests.load() > 0; }));
    const size_t before = host.CountPublished(9);
    channel->broadcast = 5;
    ASSERT_TRUE(host.WaitFor([&] { return host.CountPublished(9) > before; }));
    const auto requests = host.PublishedOfType(9);
    for (size_t i = before; i < requests.size(); ++i) {
        ASSERT_TRUE(requests[i].userContext != nullptr);
        EXPECT_TRUE(requests[i].userContext->IsDefault()) << "request " << i;
    }
    module.Terminate(true);
}

// Every watchdog request runs the five tasks of type 9 in this order.
TEST_F(QUILConnectorModuleTest, TheWatchdogsRequestsRunFiveTasksInTableOrder) {
    namespace Tasks = Connectors::Common::Tasks;
    Install(true);
    CTestableModule module(channel);
    module.Initialize(host);
    const std::vector<std::function<bool(const Connectors::Common::CMessageTask*)>> expected = {
        [](auto task) { return dynamic_cast<const Tasks::CGetStatusTask*>(task) != nullptr; },
        [](auto task) { return dynamic_cast<const Tasks::CGetLicenseTask*>(task) != nullptr; },
        [](auto task) { return dynamic_cast<const Tasks::CGetTaskStatusTask*>(task) != nullptr; },
        [](auto task) { return dynamic_cast<const Tasks::CGetEncryptionRecoveryDataTask*>(task) != nullptr; },
        [](auto task) {
            return dynamic_cast<const Tasks::CGetEncryptionStorageStatusTask*>(task) != nullptr;
        },
    };
    const auto range = module.GetTaskTable().equal_range(9);
    ASSERT_EQ(expected.size(), static_cast<size_t>(std::distance(range.first, range.second)));
    size_t position = 0;
    for (auto it = range.first; it != range.second; ++it, ++position) {
        EXPECT_TRUE(expected[position](it->second.get())) << "task " << position;
    }
}

TEST_F(QUILConnectorModuleTest, IdentifiersDiffer) {
    CTestableModule module(channel);
    EXPECT_EQ(0x071000000000081CULL, module.GetProductId());
    EXPECT_EQ(0x071000000000081BULL, CQUILConnectorModule::ConnectorProductId);
}

}  // namespace
