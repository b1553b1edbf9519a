#pragma once

#include "host/CBlockFDELogin.h"
#include "tasks/CCommandTask.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Blocks a user's encryption password.
class CBlockFDEPasswordTask
    : public CCommandTask<Zun::Common::Message::Connectors::QUILConnector::CBlockFDELogin> {
public:
    CBlockFDEPasswordTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory);

protected:
    IChannelMessageFactory::MessagePtr CreateRequest(const IChannelMessageFactory& factory,
                                                     const CommandPtr& command) const override;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
