#include "tasks/CInvalidateFDEPasswordTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CInvalidateFDEPasswordTask::CInvalidateFDEPasswordTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                                       const FactoryPtr& factory)
    : CCommandTask(channel, logger, factory) {}

IChannelMessageFactory::MessagePtr CInvalidateFDEPasswordTask::CreateRequest(
    const IChannelMessageFactory& factory, const CommandPtr& command) const {
    return factory.CreateInvalidateFDEPasswordRequest(command);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
