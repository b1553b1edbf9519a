#pragma once

#include "host/CBlockFDELogin.h"
#include "messages/pixlink/CTaskXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Blocks a user's encryption password.
class CBlockFDEPasswordRequest : public CTaskXmlRequest {
public:
    typedef ::Zun::Common::Message::Connectors::QUILConnector::CBlockFDELogin TaskMessage;

    explicit CBlockFDEPasswordRequest(boost::shared_ptr<const TaskMessage> task)
        : CTaskXmlRequest(std::move(task), "BLOCK_FDE_ENCRYPTION_PASSWORD") {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
