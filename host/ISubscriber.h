#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <string>

#include "host/CUserContext.h"
#include "host/IMessage.h"

namespace Zun {
namespace Common {
namespace Kernel {

// Receives the bus messages of the types it subscribed to.
class ISubscriber {
public:
    typedef boost::function<void(const boost::shared_ptr<IMessage>&)> QueueVisitor;

    virtual ~ISubscriber() = default;
    virtual void OnMessage(const boost::shared_ptr<IMessage>& message,
                           const boost::shared_ptr<CUserContext>& userContext) = 0;
    virtual bool DescribeQueue(std::string& text) = 0;
    virtual void ForEachQueued(const QueueVisitor& visitor) = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
