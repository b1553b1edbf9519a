#include "module/CQUILConnectorModule.h"

#include <boost/make_shared.hpp>

#include "channel/CQUILChannel.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "module/CProductWatchdog.h"
#include "platform/CRegistryKey.h"
#include "platform/ProductRegistry.h"
#include "tasks/CActivationTask.h"
#include "tasks/CBlockFDEPasswordTask.h"
#include "tasks/CConfirmEncryptionRecoveryDataTask.h"
#include "tasks/CDisableFDEMaintenanceModeTask.h"
#include "tasks/CEnableFDEMaintenanceModeTask.h"
#include "tasks/CExportConfigurationTask.h"
#include "tasks/CGetEncryptionRecoveryDataTask.h"
#include "tasks/CGetEncryptionStorageStatusTask.h"
#include "tasks/CGetLicenseTask.h"
#include "tasks/CGetStatusTask.h"
#include "tasks/CGetTaskStatusTask.h"
#include "tasks/CImportConfigurationTask.h"
#include "tasks/CInvalidateFDEPasswordTask.h"
#include "tasks/CProtectionStatusRow.h"
#include "tasks/CWipeFDEPasswordTask.h"

namespace Zun {
namespace Connectors {
namespace QUILConnector {

using Zun::Common::Message::Logs::CMultiProductStatusLog;
using Zun::Common::Message::Logs::CStatusLog;
using Zun::Connectors::Common::Tasks::CProtectionStatusRow;

const char* const CQUILConnectorModule::RegistryKey = Platform::kProductRegistryKey;
const char* const CQUILConnectorModule::RegistryValue = Platform::kProductVersionValue;
const char* const CQUILConnectorModule::ProductAccountSetting = "product-account";

CQUILConnectorModule::CQUILConnectorModule() : m_watchdogPeriod(CProductWatchdog::Period) {}

CQUILConnectorModule::CQUILConnectorModule(int64_t reconnectIntervalMs,
                                           boost::chrono::nanoseconds watchdogPeriod,
                                           const boost::shared_ptr<Common::IChannel>& channel,
                                           const boost::shared_ptr<Common::IWatchedChannel>& watched)
    : Common::CConnectorModule(reconnectIntervalMs),
      m_channel(channel),
      m_watchedChannel(watched),
      m_watchdogPeriod(watchdogPeriod) {}

CQUILConnectorModule::~CQUILConnectorModule() {
    // The worker goes first: it may be connecting, and connecting starts the watchdog.
    Terminate(true);
    StopConnection();
}

void CQUILConnectorModule::Initialize(Zun::Common::Kernel::IResourceProvider& resources) {
    boost::shared_ptr<CQUILChannel> ownChannel;
    if (!m_channel) {
        ownChannel = boost::make_shared<CQUILChannel>();
        m_channel = ownChannel;
        m_watchedChannel = ownChannel;
    }
    m_factory = boost::make_shared<Common::Pixlink::Messages::CPixlinkMessageFactory>();
    m_networkGrpc =
        Take<Zun::Common::Kernel::INetworkGrpcResource>(resources, 14, "INetworkGrpcResource", false);
    m_agentConfiguration = Take<Zun::Common::Kernel::IAgentConfigurationResource>(
        resources, 12, "IAgentConfigurationResource", false);
    Common::CConnectorModule::Initialize(resources);
    if (ownChannel) {
        ConfigureServerAccount(*ownChannel);
    }
}

// LocalSystem serves the product's ports unless the agent names another account. A setting that
// is no security identifier leaves LocalSystem in force: refusing too much is the safe mistake.
void CQUILConnectorModule::ConfigureServerAccount(CQUILChannel& channel) {
    const std::string text =
        m_agentConfiguration ? m_agentConfiguration->GetAgentValue(ProductAccountSetting) : std::string();
    if (text.empty()) {
        return;
    }
    Common::Pixlink::CServerAccount account;
    if (!account.Parse(text)) {
        Log(4) << "The product account \"" << text << "\" is no security identifier (S-1-...); the product's "
               << "ports are accepted only from " << account.Text();
        return;
    }
    channel.SetServerAccount(account);
}

bool CQUILConnectorModule::IsProductInstalled() {
    Platform::CRegistryKey key(RegistryKey, true);
    return key.Exists() && key.HasValue(RegistryValue);
}

// Table order matters: the five tasks under type 9 run in this order for every QUIL request.
void CQUILConnectorModule::CreateMessageTasks(TaskList& tasks) {
    using namespace Common::Tasks;
    const auto channel = m_channel;
    const auto logger = LoggerView();
    const auto factory = m_factory;
    const auto publisher = PublisherView();
    const auto instance = InstanceUUIDView();
    const int64_t connector = static_cast<int64_t>(ConnectorProductId);
    const uint32_t code = static_cast<uint32_t>(ProductCode);
    m_importTask = boost::make_shared<CImportConfigurationTask>(channel, logger, factory);
    tasks.push_back(boost::make_shared<CExportConfigurationTask>(
        channel, logger, factory, publisher, instance, std::vector<uint32_t>{0, 10}, connector));
    tasks.push_back(m_importTask);
    tasks.push_back(
        boost::make_shared<CGetStatusTask>(channel, logger, factory, publisher, instance, code, connector));
    tasks.push_back(boost::make_shared<CGetLicenseTask>(channel, logger, factory, publisher, instance, code));
    tasks.push_back(boost::make_shared<CActivationTask>(channel, logger, factory));
    tasks.push_back(
        boost::make_shared<CGetTaskStatusTask>(channel, logger, factory, publisher, instance, connector));
    tasks.push_back(boost::make_shared<CBlockFDEPasswordTask>(channel, logger, factory));
    tasks.push_back(boost::make_shared<CInvalidateFDEPasswordTask>(channel, logger, factory));
    tasks.push_back(boost::make_shared<CWipeFDEPasswordTask>(channel, logger, factory));
    tasks.push_back(boost::make_shared<CGetEncryptionRecoveryDataTask>(channel, logger, factory, publisher));
    tasks.push_back(
        boost::make_shared<CConfirmEncryptionRecoveryDataTask>(channel, logger, factory, publisher));
    tasks.push_back(boost::make_shared<CGetEncryptionStorageStatusTask>(channel, logger, factory, publisher,
                                                                        instance, code, connector));
    tasks.push_back(boost::make_shared<CEnableFDEMaintenanceModeTask>(channel, logger, factory));
    tasks.push_back(boost::make_shared<CDisableFDEMaintenanceModeTask>(channel, logger, factory));
}

void CQUILConnectorModule::Connect() {
    try {
        m_channel->Start();
    } catch (const std::exception& e) {
        Log(3) << e.what();
        // Which NT status refused the connect tells a missing port from a refused or foreign one.
        if (auto* pixlink = dynamic_cast<Common::Pixlink::CPixlinkChannel*>(m_channel.get())) {
            Log(1) << "Connecting to the product failed: " << pixlink->ConnectStatuses();
        }
        PublishProtectionStatus(6, 0x0710000000000221LL, 0x00000001000000B3LL);
        throw std::runtime_error(std::string("Starting QUIL connector module failed with: ") + e.what());
    }
    PublishConnectorStatus();
    PublishProductStatus();
    PublishProtectionStatus(1, 0x071000000000021ELL, -1);
    if (m_importTask) {
        m_importTask->ApplyStoredPolicy();
    }
    StartWatchdog();
}

void CQUILConnectorModule::StopConnection() {
    if (m_channel) {
        m_channel->Stop();
    }
    boost::lock_guard<boost::mutex> guard(m_watchdogLock);
    if (m_watchdog) {
        m_watchdog->interrupt();
        m_watchdog->join();
        m_watchdog.reset();
    }
}

void CQUILConnectorModule::StartWatchdog() {
    boost::lock_guard<boost::mutex> guard(m_watchdogLock);
    m_watchdog.reset(new boost::thread(&CQUILConnectorModule::WatchProduct, this));
}

void CQUILConnectorModule::WatchProduct() {
    CProductWatchdog(*m_watchedChannel, *this, *this, m_watchdogPeriod).Run();
}

void CQUILConnectorModule::PublishProtectionStatus(int32_t level, int64_t statusText, int64_t status) {
    auto log = boost::make_shared<CStatusLog>(10044);
    CProtectionStatusRow(GetInstanceUUID(), ProductCode, static_cast<int64_t>(ConnectorProductId))
        .Add(*log->GetRows()->AddNewRow(), level, CProtectionStatusRow::AllClearCategory, statusText, status);
    log->SetReadOnly();
    Publish(log);
}

void CQUILConnectorModule::PublishConnectorStatus() {
    auto log = boost::make_shared<CStatusLog>(10292);
    log->GetRows()
        ->AddNewRow()
        ->AddInt32(2143, 1)
        .AddUuid(2141, GetInstanceUUID())
        .AddCurrentTime(2144)
        .AddInt(2146, 11)
        .AddInt(2147, 256);
    log->SetReadOnly();
    Publish(log);
}

void CQUILConnectorModule::PublishProductStatus() {
    auto log = boost::make_shared<CMultiProductStatusLog>(10405, MakeProductIdentifier());
    log->GetRows()
        ->AddNewRow()
        ->AddString(3560, "velm.local.products.quil.computer")
        .AddInt32(3554, 6)
        .AddUuid(3552, GetInstanceUUID())
        .AddCurrentTime(3555)
        .AddInt(3559, ProductCode)
        .AddResId(4429, static_cast<int64_t>(GetProductId()));
    log->SetReadOnly();
    Publish(log);
}

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Zun
