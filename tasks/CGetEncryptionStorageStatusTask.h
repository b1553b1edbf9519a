#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "core/CMessageTask.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "messages/ProtectionStatusRecord.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Encryption storage status (log 10553): asks the same question as the protection status task and
// reports only whether the product's encryption storage is in order.
class CGetEncryptionStorageStatusTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;
    typedef boost::shared_ptr<IInstanceUUIDProvider> InstanceUUIDPtr;
    static constexpr Zun::Common::Kernel::MessageType LogType = 10553;

    class BufferReceiver : public IBufferReceiver {
    public:
        BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                       const InstanceUUIDPtr& instance, const FactoryPtr& factory,
                       int64_t connectorProductId);
        void Receive(const std::vector<uint8_t>& payload) override;

    private:
        const ProtectionStatusRecord* FindStorageRecord(
            const std::vector<ProtectionStatusRecord>& records) const;

        LoggerPtr m_logger;
        PublisherPtr m_publisher;
        InstanceUUIDPtr m_instance;
        FactoryPtr m_factory;
        int64_t m_connectorProductId;
    };

    // The storage row names no product, so the product code is taken only to keep the module's task
    // table uniform with the protection status task.
    CGetEncryptionStorageStatusTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                    const FactoryPtr& factory, const PublisherPtr& publisher,
                                    const InstanceUUIDPtr& instance, uint32_t productCode,
                                    int64_t connectorProductId, int32_t messageType = 9);

    void Execute(const MessagePtr& message) override;

private:
    ChannelPtr m_channel;
    LoggerPtr m_logger;
    FactoryPtr m_factory;
    PublisherPtr m_publisher;
    InstanceUUIDPtr m_instance;
    int64_t m_connectorProductId;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
