#include "messages/pixlink/CommandPayload.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::vector<uint8_t> StartPayload(uint32_t command) {
    std::vector<uint8_t> payload;
    payload.reserve(RequestReserve);
    AppendUInt32(payload, CommandHeaderSize);
    AppendUInt32(payload, PluginId);
    AppendUInt32(payload, command);
    return payload;
}

void AppendUInt32(std::vector<uint8_t>& payload, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        payload.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void AppendText(std::vector<uint8_t>& payload, const std::string& text) {
    payload.insert(payload.end(), text.begin(), text.end());
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
