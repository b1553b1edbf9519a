#pragma once

#include "host/CWipeFDELogin.h"
#include "tasks/CCommandTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Wipes a user's encryption password.
class CWipeFDEPasswordTask
    : public CCommandTask<Zun::Common::Message::Connectors::QUILConnector::CWipeFDELogin> {
public:
    CWipeFDEPasswordTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory);

protected:
    IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                     const CommandPtr& command) const override;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
