#include "tasks/CActivationTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CActivationTask::CActivationTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                 const FactoryPtr& factory)
    : CCommandTask(channel, logger, factory) {}

IChannelMessageFactory::MessagePtr CActivationTask::CreateRequest(const IChannelMessageFactory& factory,
                                                                  const CommandPtr& command) const {
    return factory.CreateActivationRequest(command);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
