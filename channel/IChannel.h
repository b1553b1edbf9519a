#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "channel/IBufferReceiver.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The module's one connection to the product, shared by the worker and the watchdog.
class IChannel {
public:
    // Throws when the product cannot be reached.
    virtual void Start() = 0;
    // Sends a complete request payload; the reply reaches the buffer receiver before this returns.
    virtual void SendRequest(const std::vector<uint8_t>& payload) = 0;
    // An empty pointer drops replies.
    virtual void SetBufferReceiver(const boost::shared_ptr<IBufferReceiver>& receiver) = 0;
    virtual void Stop() = 0;
    virtual ~IChannel() = default;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
