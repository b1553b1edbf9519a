#pragma once

#include <boost/scoped_ptr.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "channel/IChannel.h"
#include "channel/IChannelMessageFactory.h"
#include "channel/IWatchedChannel.h"
#include "core/CConnectorModule.h"
#include "host/IAgentConfigurationResource.h"
#include "host/INetworkGrpcResource.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {
class CImportConfigurationTask;
}
}  // namespace Common
namespace QUILConnector {

class CQUILChannel;

// The connector module of the QUIL full-disk-encryption product.
class CQUILConnectorModule : public Common::CConnectorModule {
public:
    static constexpr uint64_t StatusProductId = 0x071000000000081CULL;
    static constexpr int64_t ProductCode = 29;
    static const char* const RegistryKey;
    static const char* const RegistryValue;
    // The agent's setting that names the account the product's ports must be served by.
    static const char* const ProductAccountSetting;

    CQUILConnectorModule();
    ~CQUILConnectorModule() override;

    void Initialize(Zun::Common::Kernel::IResourceProvider& resources) override;
    std::string GetName() const override { return "CQUILConnectorModule"; }
    uint64_t GetProductId() const override { return StatusProductId; }
    boost::chrono::nanoseconds GetWatchdogPeriod() const { return m_watchdogPeriod; }

protected:
    // Test seam: shorter intervals and a product channel of the test's choosing.
    CQUILConnectorModule(int64_t reconnectIntervalMs, boost::chrono::nanoseconds watchdogPeriod,
                         const boost::shared_ptr<Common::IChannel>& channel,
                         const boost::shared_ptr<Common::IWatchedChannel>& watched);

    bool IsProductInstalled() override;
    void CreateMessageTasks(TaskList& tasks) override;
    void Connect() override;
    void StopConnection() override;
    void Disconnect() override { StopConnection(); }

private:
    void WatchProduct();
    void StartWatchdog();
    void PublishProtectionStatus(int32_t level, int64_t statusText, int64_t status);
    void PublishConnectorStatus();
    void PublishProductStatus();
    void ConfigureServerAccount(CQUILChannel& channel);

    boost::shared_ptr<Common::IChannel> m_channel;
    boost::shared_ptr<Common::IWatchedChannel> m_watchedChannel;
    boost::shared_ptr<Common::IChannelMessageFactory> m_factory;
    boost::shared_ptr<Common::Tasks::CImportConfigurationTask> m_importTask;
    boost::chrono::nanoseconds m_watchdogPeriod;
    // Stopping the connection may happen on a host thread and on the worker at once.
    boost::mutex m_watchdogLock;
    boost::scoped_ptr<boost::thread> m_watchdog;
    boost::shared_ptr<Zun::Common::Kernel::INetworkGrpcResource> m_networkGrpc;
    boost::shared_ptr<Zun::Common::Kernel::IAgentConfigurationResource> m_agentConfiguration;
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Zun
