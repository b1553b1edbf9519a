#include "tasks/CBlockFDEPasswordTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CBlockFDEPasswordTask::CBlockFDEPasswordTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                             const FactoryPtr& factory)
    : CCommandTask(channel, logger, factory) {}

IChannelMessageFactory::MessagePtr CBlockFDEPasswordTask::CreateRequest(const IChannelMessageFactory& factory,
                                                                        const CommandPtr& command) const {
    return factory.CreateBlockFDEPasswordRequest(command);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
