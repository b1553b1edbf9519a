#pragma once

#include <boost/shared_ptr.hpp>

#include "host/CUserContext.h"
#include "host/IMessage.h"
#include "host/IResource.h"
#include "host/ISubscriber.h"

namespace Zun {
namespace Common {
namespace Kernel {

// The agent's message bus (resource 1).
class IBusResource : public IResource {
public:
    virtual void Publish(const boost::shared_ptr<IMessage>& message,
                         const boost::shared_ptr<CUserContext>& userContext) = 0;
    virtual void Subscribe(const boost::shared_ptr<ISubscriber>& subscriber, MessageType type) = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
