#pragma once

#include "host/CWipeFDELogin.h"
#include "messages/pixlink/CTaskXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Wipes a user's encryption password.
class CWipeFDEPasswordRequest : public CTaskXmlRequest {
public:
    typedef ::Zun::Common::Message::Connectors::QUILConnector::CWipeFDELogin TaskMessage;

    explicit CWipeFDEPasswordRequest(boost::shared_ptr<const TaskMessage> task)
        : CTaskXmlRequest(std::move(task), "WIPE_FDE_ENCRYPTION_PASSWORD") {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
