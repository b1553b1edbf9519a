#pragma once

#include <cstdint>
#include <vector>

#include "channel/CChannelRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// A request that is its command header alone.
class CCommandRequest : public CChannelRequest {
public:
    explicit CCommandRequest(uint32_t command) : m_command(command) {}
    std::vector<uint8_t> Serialize() override;

private:
    uint32_t m_command;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
