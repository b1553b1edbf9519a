#pragma once

#include <stdexcept>

#include "channel/IChannelMessage.h"

namespace Zun {
namespace Connectors {
namespace Common {

// Base of every request: requests are only ever serialized.
class CChannelRequest : public IChannelMessage {
public:
    void Deserialize(const std::vector<uint8_t>&) override {
        throw std::runtime_error("Standard implemtation of deserialization in channel request is not implemented");
    }
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
