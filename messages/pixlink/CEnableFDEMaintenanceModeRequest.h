#pragma once

#include "host/CEnableFDEMaintenanceMode.h"
#include "messages/pixlink/CTaskXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Switches the product's maintenance mode on for some boot cycles, some seconds or until a date.
class CEnableFDEMaintenanceModeRequest : public CTaskXmlRequest {
public:
    typedef ::Zun::Common::Message::Connectors::QUILConnector::Task::CEnableFDEMaintenanceMode TaskMessage;

    explicit CEnableFDEMaintenanceModeRequest(boost::shared_ptr<const TaskMessage> task);

protected:
    // Throws std::runtime_error when no limit is given and the date library's std::out_of_range for an
    // impossible fixed date.
    std::string BuildNodes() const override;

private:
    boost::shared_ptr<const TaskMessage> m_enable;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
