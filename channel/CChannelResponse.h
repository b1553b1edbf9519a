#pragma once

#include <stdexcept>

#include "channel/IChannelMessage.h"

namespace Zun {
namespace Connectors {
namespace Common {

// Base of every response: responses are only ever parsed.
class CChannelResponse : public IChannelMessage {
public:
    std::vector<uint8_t> Serialize() override {
        throw std::runtime_error("Standard implemtation of serialize in channel response is not implemented");
    }
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
