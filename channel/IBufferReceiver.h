#pragma once

#include <cstdint>
#include <vector>

namespace Zun {
namespace Connectors {
namespace Common {

// Takes the reply of one request, on the requesting thread, before SendRequest returns.
class IBufferReceiver {
public:
    // The complete reply payload, reply header included.
    virtual void Receive(const std::vector<uint8_t>& payload) = 0;
    virtual ~IBufferReceiver() = default;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
