#include "tasks/CWipeFDEPasswordTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CWipeFDEPasswordTask::CWipeFDEPasswordTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                           const FactoryPtr& factory)
    : CCommandTask(channel, logger, factory) {}

IChannelMessageFactory::MessagePtr CWipeFDEPasswordTask::CreateRequest(const IChannelMessageFactory& factory,
                                                                       const CommandPtr& command) const {
    return factory.CreateWipeFDEPasswordRequest(command);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
