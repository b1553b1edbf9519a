#pragma once

#include <cstdint>

#include "platform/NtTypes.h"
#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// An LPC request laid out in its fixed buffer. Small requests travel inline; a long request or a
// large reply buffer takes the large form, whose data-information entries lend the caller's request
// and reply buffers to the server.
class CLpcRequestMessage {
public:
    CLpcRequestMessage(std::uint32_t messageType, std::uint32_t requestFlags, const void* request,
                       std::uint64_t requestLength, void* reply, std::uint64_t replyCapacity);

    static bool NeedsLargeForm(std::uint64_t requestLength, std::uint64_t replyCapacity) {
        return requestLength > kLpcSmallRequestMax || replyCapacity > kLpcSmallCapacityMax;
    }

    bool IsLarge() const { return m_large; }
    Platform::PORT_MESSAGE* Message() { return reinterpret_cast<Platform::PORT_MESSAGE*>(m_buffer); }

private:
    void PutDword(std::size_t offset, std::uint32_t value);
    void PutAddress(std::size_t offset, const void* address);
    void SetLengths(std::size_t dataLength, std::size_t dataInfoOffset);
    void LayOutLarge(const void* request, std::uint64_t requestLength, void* reply,
                     std::uint64_t replyCapacity);

    alignas(8) std::uint8_t m_buffer[kLpcMessageSize];
    bool m_large;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
