#pragma once

#include <boost/shared_ptr.hpp>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "channel/RecoveryDataSet.h"
#include "core/CMessageTask.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "host/proto/Encryption.pb.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Moves the product's pending recovery material to the management side as a recovery-data request
// (message 728). The material is secret: it is decoded and unscrambled only into that request and
// never written to a log line.
class CGetEncryptionRecoveryDataTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;
    typedef Zun::Common::DataDefinition::Encryption::FDERecoveryData FDERecoveryData;

    class BufferReceiver : public IBufferReceiver {
    public:
        BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher, const FactoryPtr& factory);
        void Receive(const std::vector<uint8_t>& payload) override;

    private:
        static void Fill(FDERecoveryData& data, const RecoveryDataSet& material);

        LoggerPtr m_logger;
        PublisherPtr m_publisher;
        FactoryPtr m_factory;
    };

    CGetEncryptionRecoveryDataTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                   const FactoryPtr& factory, const PublisherPtr& publisher);

    void Execute(const MessagePtr& message) override;

private:
    ChannelPtr m_channel;
    LoggerPtr m_logger;
    FactoryPtr m_factory;
    PublisherPtr m_publisher;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
