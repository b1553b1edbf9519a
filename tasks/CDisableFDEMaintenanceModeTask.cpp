#include "tasks/CDisableFDEMaintenanceModeTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CDisableFDEMaintenanceModeTask::CDisableFDEMaintenanceModeTask(const ChannelPtr& channel,
                                                               const LoggerPtr& logger,
                                                               const FactoryPtr& factory)
    : CCommandTask(channel, logger, factory) {}

IChannelMessageFactory::MessagePtr CDisableFDEMaintenanceModeTask::CreateRequest(
    const IChannelMessageFactory& factory, const CommandPtr& command) const {
    return factory.CreateDisableFDEMaintenanceModeRequest(command);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
