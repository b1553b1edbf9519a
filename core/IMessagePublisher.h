#pragma once

#include <boost/shared_ptr.hpp>

#include "host/IMessage.h"

namespace Zun {
namespace Common {
namespace Module {

// Publishes on the agent bus with the user context of the message being processed.
class IMessagePublisher {
public:
    virtual void Publish(const boost::shared_ptr<Kernel::IMessage>& message) = 0;
    virtual ~IMessagePublisher() = default;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
