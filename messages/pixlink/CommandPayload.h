#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

const uint32_t CommandHeaderSize = 12;
const uint32_t PluginId = 0x1000600;
const uint32_t XmlDocumentCommand = 2;
const size_t RequestReserve = 65536;

// A request payload holding only the command header {12, plug-in id, command}; the body follows.
std::vector<uint8_t> StartPayload(uint32_t command);
void AppendUInt32(std::vector<uint8_t>& payload, uint32_t value);
void AppendText(std::vector<uint8_t>& payload, const std::string& text);

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
