#include "tasks/CEnableFDEMaintenanceModeTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CEnableFDEMaintenanceModeTask::CEnableFDEMaintenanceModeTask(const ChannelPtr& channel,
                                                             const LoggerPtr& logger,
                                                             const FactoryPtr& factory)
    : CCommandTask(channel, logger, factory) {}

IChannelMessageFactory::MessagePtr CEnableFDEMaintenanceModeTask::CreateRequest(
    const IChannelMessageFactory& factory, const CommandPtr& command) const {
    return factory.CreateEnableFDEMaintenanceModeRequest(command);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
