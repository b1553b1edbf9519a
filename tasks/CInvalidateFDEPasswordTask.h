#pragma once

#include "host/CInvalidateFDELogin.h"
#include "tasks/CCommandTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Invalidates a user's encryption password.
class CInvalidateFDEPasswordTask
    : public CCommandTask<Zun::Common::Message::Connectors::QUILConnector::CInvalidateFDELogin> {
public:
    CInvalidateFDEPasswordTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory);

protected:
    IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                     const CommandPtr& command) const override;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
