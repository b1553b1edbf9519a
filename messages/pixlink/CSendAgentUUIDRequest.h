#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channel/CChannelRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Tells the product the agent's instance identifier, as two tagged items.
class CSendAgentUUIDRequest : public CChannelRequest {
public:
    static constexpr uint32_t Command = 154;
    static constexpr uint32_t KindTag = 0x104;
    static constexpr uint32_t KindValue = 3;
    static constexpr uint32_t IdentifierTag = 0x100002;

    explicit CSendAgentUUIDRequest(std::string identifier) : m_identifier(std::move(identifier)) {}
    std::vector<uint8_t> Serialize() override;

private:
    std::string m_identifier;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
