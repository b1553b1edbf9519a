#pragma once

#include "host/CProductActivation.h"
#include "tasks/CCommandTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Activates the product with a licence file or a managed-activation text.
class CActivationTask
    : public CCommandTask<Zun::Common::Message::Connectors::Product::Task::CProductActivation> {
public:
    CActivationTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory);

protected:
    IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                     const CommandPtr& command) const override;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
