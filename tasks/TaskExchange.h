#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "channel/IChannel.h"
#include "channel/IChannelMessageFactory.h"
#include "host/IMessage.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

typedef boost::shared_ptr<Zun::Common::Kernel::IMessage> MessagePtr;
typedef boost::shared_ptr<IChannel> ChannelPtr;
typedef boost::shared_ptr<IChannelMessageFactory> FactoryPtr;
typedef boost::shared_ptr<IBufferReceiver> ReceiverPtr;

// The request kind of a query message, when the message is the query request of the type the task
// serves: 8 is the sibling connector's request, 9 ours. Anything else is no query for the task.
std::optional<uint32_t> QueryRequestKind(int32_t messageType, const MessagePtr& message);

// One request and its reply: installs the receiver (an empty one drops the reply) and sends. The
// worker only knows how to react to CRetryException, so every standard failure on the way, the
// receiver's included, becomes a counted retry carrying the original text.
void ExchangeOrRetry(IChannel& channel,
                     const std::function<IChannelMessageFactory::MessagePtr()>& createRequest,
                     const ReceiverPtr& receiver);

// Parses a reply payload into a reply object fresh from the factory.
template <typename Reply>
boost::shared_ptr<Reply> ParseReply(const IChannelMessageFactory::MessagePtr& created,
                                    const std::vector<uint8_t>& payload) {
    const boost::shared_ptr<Reply> reply = boost::dynamic_pointer_cast<Reply>(created);
    if (!reply) {
        throw std::runtime_error("Message factory created a reply of the wrong class");
    }
    reply->Deserialize(payload);
    return reply;
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
