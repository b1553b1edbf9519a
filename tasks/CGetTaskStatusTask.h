#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "core/CMessageTask.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Task results of the product (event 10368): the product hands out one result per request, so the
// task asks again until a reply holds none.
class CGetTaskStatusTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;
    typedef boost::shared_ptr<IInstanceUUIDProvider> InstanceUUIDPtr;

    class BufferReceiver : public IBufferReceiver {
    public:
        BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                       const InstanceUUIDPtr& instance, const FactoryPtr& factory,
                       int64_t connectorProductId);
        void Receive(const std::vector<uint8_t>& payload) override;
        // Whether the reply carried a result, that is whether the product may hold more.
        bool HasReceivedResult() const { return m_receivedResult; }

    private:
        LoggerPtr m_logger;
        PublisherPtr m_publisher;
        InstanceUUIDPtr m_instance;
        FactoryPtr m_factory;
        int64_t m_connectorProductId;
        bool m_receivedResult = false;
    };

    CGetTaskStatusTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory,
                       const PublisherPtr& publisher, const InstanceUUIDPtr& instance,
                       int64_t connectorProductId, int32_t messageType = 9);

    // Fetches results one by one until the product has none left. Results published before a
    // failed exchange stay published; the retry then fetches the rest.
    void Execute(const MessagePtr& message) override;

private:
    bool FetchOneResult();

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
