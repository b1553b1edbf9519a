#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "channel/IBufferReceiver.h"
#include "core/CMessageTask.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "logs/ISymbolContainer.h"
#include "messages/ProtectionStatusRecord.h"
#include "tasks/CProtectionStatusRow.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Protection status (log 10044): one row per problem the product reports, or the all-clear row.
class CGetStatusTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;
    typedef boost::shared_ptr<IInstanceUUIDProvider> InstanceUUIDPtr;
    static constexpr Zun::Common::Kernel::MessageType LogType = 10044;

    class BufferReceiver : public IBufferReceiver {
    public:
        BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                       const InstanceUUIDPtr& instance, const FactoryPtr& factory, uint32_t productCode,
                       int64_t connectorProductId);
        void Receive(const std::vector<uint8_t>& payload) override;

    private:
        static void AddProblemRow(const CProtectionStatusRow& rows, Zun::Common::Logs::ISymbolContainer& row,
                                  const ProtectionStatusRecord& record);

        LoggerPtr m_logger;
        PublisherPtr m_publisher;
        InstanceUUIDPtr m_instance;
        FactoryPtr m_factory;
        uint32_t m_productCode;
        int64_t m_connectorProductId;
    };

    CGetStatusTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory,
                   const PublisherPtr& publisher, const InstanceUUIDPtr& instance, uint32_t productCode,
                   int64_t connectorProductId, int32_t messageType = 9);

    void Execute(const MessagePtr& message) override;

private:
    ChannelPtr m_channel;
    LoggerPtr m_logger;
    FactoryPtr m_factory;
    PublisherPtr m_publisher;
    InstanceUUIDPtr m_instance;
    uint32_t m_productCode;
    int64_t m_connectorProductId;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
