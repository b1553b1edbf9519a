#pragma once

#include "host/CEnableFDEMaintenanceMode.h"
#include "tasks/CCommandTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Switches the product's maintenance mode on.
class CEnableFDEMaintenanceModeTask
    : public CCommandTask<Zun::Common::Message::Connectors::QUILConnector::Task::CEnableFDEMaintenanceMode> {
public:
    CEnableFDEMaintenanceModeTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                  const FactoryPtr& factory);

protected:
    IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                     const CommandPtr& command) const override;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
