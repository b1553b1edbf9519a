#include "ipc/CLpcRequestMessage.h"

#include <cstring>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

namespace {

constexpr std::uint32_t kDataEntryCount = 2;
// Data lengths count from the end of the port message header.
constexpr std::size_t kSmallDataBase = kLpcSmallDataOffset - kPortHeaderSize;
constexpr std::size_t kLargeDataBase = kLpcLargeDataOffset - kPortHeaderSize;

}  // namespace

CLpcRequestMessage::CLpcRequestMessage(std::uint32_t messageType, std::uint32_t requestFlags,
                                       const void* request, std::uint64_t requestLength, void* reply,
                                       std::uint64_t replyCapacity)
    : m_large(NeedsLargeForm(requestLength, replyCapacity)) {
    std::memset(m_buffer, 0, kLpcLargeDataOffset);
    PutDword(kLpcTypeOffset, messageType);
    PutDword(kLpcFlagsOffset, requestFlags & 7);
    PutDword(kLpcCapacityOffset, static_cast<std::uint32_t>(replyCapacity));
    if (m_large) {
        LayOutLarge(request, requestLength, reply, replyCapacity);
        return;
    }
    if (requestLength > 0) {
        std::memcpy(m_buffer + kLpcSmallDataOffset, request, static_cast<std::size_t>(requestLength));
    }
    SetLengths(kSmallDataBase + static_cast<std::size_t>(requestLength), 0);
}

void CLpcRequestMessage::LayOutLarge(const void* request, std::uint64_t requestLength, void* reply,
                                     std::uint64_t replyCapacity) {
    const bool inlined = requestLength <= kLpcLargeInlineMax;
    PutDword(kLpcDataInfoOffset, kDataEntryCount);
    PutAddress(kLpcDataInfoOffset + 8, inlined ? nullptr : request);
    PutDword(kLpcEntry0SizeOffset, inlined ? 0 : static_cast<std::uint32_t>(requestLength));
    PutAddress(kLpcDataInfoOffset + 24, reply);
    PutDword(kLpcEntry1SizeOffset, static_cast<std::uint32_t>(replyCapacity));
    std::size_t dataLength = kLargeDataBase;
    if (inlined && requestLength > 0) {
        std::memcpy(m_buffer + kLpcLargeDataOffset, request, static_cast<std::size_t>(requestLength));
        dataLength += static_cast<std::size_t>(requestLength);
    }
    SetLengths(dataLength, kLpcDataInfoOffset);
}

void CLpcRequestMessage::PutDword(std::size_t offset, std::uint32_t value) {
    std::memcpy(m_buffer + offset, &value, sizeof(value));
}

void CLpcRequestMessage::PutAddress(std::size_t offset, const void* address) {
    const std::uint64_t value = reinterpret_cast<std::uintptr_t>(address);
    std::memcpy(m_buffer + offset, &value, sizeof(value));
}

void CLpcRequestMessage::SetLengths(std::size_t dataLength, std::size_t dataInfoOffset) {
    Platform::PORT_MESSAGE* header = Message();
    header->u1.s1.DataLength = static_cast<Platform::CSHORT>(dataLength);
    header->u1.s1.TotalLength = static_cast<Platform::CSHORT>(dataLength + kPortHeaderSize);
    header->u2.s2.DataInfoOffset = static_cast<Platform::CSHORT>(dataInfoOffset);
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
