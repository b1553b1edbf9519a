#include "tasks/TaskExchange.h"

#include "bus/CQUILRequest.h"
#include "core/CRetryException.h"
#include "host/CKTAgentRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Connectors::KTAgentConnector::CKTAgentRequest;
using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;

std::optional<uint32_t> QueryRequestKind(int32_t messageType, const MessagePtr& message) {
    if (messageType == CKTAgentRequest::Type) {
        if (const auto* request = dynamic_cast<const CKTAgentRequest*>(message.get())) {
            return request->GetRequestKind();
        }
    } else if (messageType == CQUILRequest::Type) {
        if (const auto* request = dynamic_cast<const CQUILRequest*>(message.get())) {
            return request->GetRequestKind();
        }
    }
    return std::nullopt;
}

void ExchangeOrRetry(IChannel& channel,
                     const std::function<IChannelMessageFactory::MessagePtr()>& createRequest,
                     const ReceiverPtr& receiver) {
    try {
        const std::vector<uint8_t> request = createRequest()->Serialize();
        channel.SetBufferReceiver(receiver);
        channel.SendRequest(request);
    } catch (const std::exception& e) {
        throw CRetryException(e.what());
    }
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
