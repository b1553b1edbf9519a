#pragma once

#include <cstdint>
#include <vector>

namespace Zun {
namespace Connectors {
namespace Common {

// A request or a reply of the product protocol.
class IChannelMessage {
public:
    virtual ~IChannelMessage() = default;
    // The complete request payload, command header included.
    virtual std::vector<uint8_t> Serialize() = 0;
    // Parses a complete reply payload.
    virtual void Deserialize(const std::vector<uint8_t>& payload) = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
