#pragma once

#include "host/CInvalidateFDELogin.h"
#include "messages/pixlink/CTaskXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Invalidates a user's encryption password.
class CInvalidateFDEPasswordRequest : public CTaskXmlRequest {
public:
    typedef ::Zun::Common::Message::Connectors::QUILConnector::CInvalidateFDELogin TaskMessage;

    explicit CInvalidateFDEPasswordRequest(boost::shared_ptr<const TaskMessage> task)
        : CTaskXmlRequest(std::move(task), "INVALIDATE_FDE_ENCRYPTION_PASSWORD") {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
