#pragma once

#include "host/CDisableFDEMaintenanceMode.h"
#include "tasks/CCommandTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Switches the product's maintenance mode off.
class CDisableFDEMaintenanceModeTask
    : public CCommandTask<Zun::Common::Message::Connectors::QUILConnector::Task::CDisableFDEMaintenanceMode> {
public:
    CDisableFDEMaintenanceModeTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                   const FactoryPtr& factory);

protected:
    IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                     const CommandPtr& command) const override;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
