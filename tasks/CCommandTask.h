#pragma once

#include <boost/shared_ptr.hpp>

#include "core/CMessageTask.h"
#include "core/ILogger.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// What the six command tasks share: they forward one agent task message to the product as a request
// document and ignore the reply. Success is silent; whether the command got through is reported
// only by the worker, from the CRetryException a failed exchange raises.
template <typename Command>
class CCommandTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;
    typedef boost::shared_ptr<const Command> CommandPtr;

    void Execute(const MessagePtr& message) override {
        const CommandPtr command = boost::dynamic_pointer_cast<const Command>(message);
        if (!command) {
            return;
        }
        // No receiver: a reply meant for an earlier query must not be parsed for this command.
        ExchangeOrRetry(
            *m_channel, [this, &command] { return CreateRequest(*m_factory, command); }, ReceiverPtr());
    }

protected:
    CCommandTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory)
        : CMessageTask(Command::Type), m_channel(channel), m_logger(logger), m_factory(factory) {}

    virtual IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                             const CommandPtr& command) const = 0;

private:
    ChannelPtr m_channel;
    LoggerPtr m_logger;
    FactoryPtr m_factory;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
