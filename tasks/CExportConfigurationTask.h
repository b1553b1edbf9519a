#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "core/CMessageTask.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "host/CRequestConfigurationMessage.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Answers the management side's configuration request (message 5) with the product's configuration
// as event 10244, followed by the task result event that reports the request as done.
class CExportConfigurationTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;
    typedef boost::shared_ptr<IInstanceUUIDProvider> InstanceUUIDPtr;
    typedef boost::shared_ptr<const Zun::Common::Message::Configuration::CRequestConfigurationMessage>
        RequestPtr;
    static constexpr Zun::Common::Kernel::MessageType LogType = 10244;

    class BufferReceiver : public IBufferReceiver {
    public:
        BufferReceiver(const RequestPtr& request, const PublisherPtr& publisher,
                       const InstanceUUIDPtr& instance, const FactoryPtr& factory,
                       int64_t connectorProductId);
        void Receive(const std::vector<uint8_t>& payload) override;

    private:
        void PublishConfiguration(const std::string& configuration);
        void PublishDone();

        RequestPtr m_request;
        PublisherPtr m_publisher;
        InstanceUUIDPtr m_instance;
        FactoryPtr m_factory;
        int64_t m_connectorProductId;
    };

    CExportConfigurationTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory,
                             const PublisherPtr& publisher, const InstanceUUIDPtr& instance,
                             const std::vector<uint32_t>& productTypes, int64_t connectorProductId);

    void Execute(const MessagePtr& message) override;

private:
    bool IsAcceptedProductType(const RequestPtr& request) const;

    ChannelPtr m_channel;
    LoggerPtr m_logger;
    PublisherPtr m_publisher;
    InstanceUUIDPtr m_instance;
    std::vector<uint32_t> m_productTypes;
    FactoryPtr m_factory;
    int64_t m_connectorProductId;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
