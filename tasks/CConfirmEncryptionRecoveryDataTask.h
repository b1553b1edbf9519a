#pragma once

#include <boost/shared_ptr.hpp>

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

// Tells the product which recovery items the management side has processed (message 729), so that
// the product stops offering them. Items are named by the product's own identifiers only.
class CConfirmEncryptionRecoveryDataTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherPtr;

    CConfirmEncryptionRecoveryDataTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                       const FactoryPtr& factory, const PublisherPtr& publisher);

    void Execute(const MessagePtr& message) override;

private:
    static RecoveryDataSet ConfirmedItems(
        const Zun::Common::DataDefinition::Encryption::FDERecoveryData& answer);

    ChannelPtr m_channel;
    LoggerPtr m_logger;
    FactoryPtr m_factory;
    PublisherPtr m_publisher;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
