#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "core/CMessageTask.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "logs/ISymbolContainer.h"
#include "messages/LicenseRecord.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Licences (multi-product log 10348): one row per licence the product holds.
class CGetLicenseTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;
    typedef boost::shared_ptr<IInstanceUUIDProvider> InstanceUUIDPtr;
    static constexpr Zun::Common::Kernel::MessageType LogType = 10348;

    class BufferReceiver : public IBufferReceiver {
    public:
        BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                       const InstanceUUIDPtr& instance, const FactoryPtr& factory, uint32_t productCode);
        void Receive(const std::vector<uint8_t>& payload) override;

    private:
        void AddLicenseRow(Zun::Common::Logs::ISymbolContainer& row, const LicenseRecord& license);
        static void AddOptionalFields(Zun::Common::Logs::ISymbolContainer& row, const LicenseRecord& license);

        LoggerPtr m_logger;
        PublisherPtr m_publisher;
        InstanceUUIDPtr m_instance;
        FactoryPtr m_factory;
        uint32_t m_productCode;
    };

    CGetLicenseTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory,
                    const PublisherPtr& publisher, const InstanceUUIDPtr& instance, uint32_t productCode,
                    int32_t messageType = 9);

    void Execute(const MessagePtr& message) override;

private:
    ChannelPtr m_channel;
    LoggerPtr m_logger;
    FactoryPtr m_factory;
    PublisherPtr m_publisher;
    InstanceUUIDPtr m_instance;
    uint32_t m_productCode;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
