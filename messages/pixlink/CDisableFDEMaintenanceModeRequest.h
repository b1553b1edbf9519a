#pragma once

#include "host/CDisableFDEMaintenanceMode.h"
#include "messages/pixlink/CTaskXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Switches the product's maintenance mode off.
class CDisableFDEMaintenanceModeRequest : public CTaskXmlRequest {
public:
    typedef ::Zun::Common::Message::Connectors::QUILConnector::Task::CDisableFDEMaintenanceMode TaskMessage;

    explicit CDisableFDEMaintenanceModeRequest(boost::shared_ptr<const TaskMessage> task)
        : CTaskXmlRequest(std::move(task), "DISABLE_MAINTENANCE_MODE") {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
