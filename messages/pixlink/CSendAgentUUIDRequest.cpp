#include "messages/pixlink/CSendAgentUUIDRequest.h"

#include <limits>
#include <stdexcept>

#include "messages/pixlink/CRawPacket.h"
#include "messages/pixlink/CommandPayload.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::vector<uint8_t> CSendAgentUUIDRequest::Serialize() {
    const uint8_t kind[4] = {static_cast<uint8_t>(KindValue), 0, 0, 0};
    // The identifier travels with its terminating zero, which c_str() provides.
    if (m_identifier.size() >= std::numeric_limits<uint32_t>::max()) {
        throw std::runtime_error("CSendAgentUUIDRequest: Agent identifier is too long");
    }
    const uint32_t identifierLength = static_cast<uint32_t>(m_identifier.size() + 1);

    CRawPacket packet;
    CRawPacket::CAttachableBuffer& buffer = packet.GetBuffer();
    bool built = buffer.AppendItem(KindTag, kind, sizeof kind);
    if (built && !buffer.IsAttached()) {
        built = buffer.AppendItem(IdentifierTag, m_identifier.c_str(), identifierLength);
    }
    if (!built) {
        throw std::runtime_error("CSendAgentUUIDRequest: Tagged items could not be built");
    }

    std::vector<uint8_t> payload = StartPayload(Command);
    const std::vector<uint8_t> body = packet.GetBytes();
    payload.insert(payload.end(), body.begin(), body.end());
    return payload;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
