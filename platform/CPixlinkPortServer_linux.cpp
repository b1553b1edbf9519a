#include "platform/CPixlinkPortServer.h"

#include <cstdio>
#include <cstring>

#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Platform {

namespace Pixlink = Connectors::Common::Pixlink;

namespace {

void PutDword(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(&bytes[offset], &value, 4);
}

bool Slice(const std::vector<std::uint8_t>& from, std::size_t offset, std::size_t length,
           std::vector<std::uint8_t>& bytes) {
    if (offset > from.size() || length > from.size() - offset) {
        return false;
    }
    bytes.assign(from.begin() + offset, from.begin() + offset + length);
    return true;
}

}  // namespace

CPixlinkPortServer::CPixlinkPortServer(std::uint32_t kind, std::uint32_t localId, std::uint32_t remoteId)
    : m_kind(kind), m_port(kind, PortName(kind, localId, remoteId)) {
    m_port.SetConnectionFilter(
        [kind](const std::vector<std::uint8_t>& data) { return IsPixlinkConnection(kind, data); });
}

std::string CPixlinkPortServer::PortName(std::uint32_t kind, std::uint32_t localId, std::uint32_t remoteId) {
    char name[96];
    std::snprintf(name, sizeof(name), "\\BaseNamedObjects\\PIXLINK%08XTo%08XCommPort%s", localId, remoteId,
                  kind == kPortAlpc ? "Alpc" : "");
    return name;
}

// The magic and version; an ALPC client also announces the largest reply it takes inline, and the
// product, which sends replies up to its own inline limit without a view, refuses a client that
// announces less.
bool CPixlinkPortServer::IsPixlinkConnection(std::uint32_t kind, const std::vector<std::uint8_t>& data) {
    const std::size_t at = kind == kPortAlpc ? Pixlink::kPortHeaderSize : 0;
    const std::size_t words = kind == kPortAlpc ? 4 : 3;
    if (data.size() < at + 4 * words) {
        return false;
    }
    std::uint32_t fields[4] = {};
    std::memcpy(fields, &data[at], 4 * words);
    return fields[0] == Pixlink::kMagicLow && fields[1] == Pixlink::kMagicHigh &&
           fields[2] == Pixlink::kProtocolVersion &&
           (kind != kPortAlpc || fields[3] >= Pixlink::kAlpcInlineReplyMax);
}

std::uint32_t CPixlinkPortServer::ReplyCapacity(const CPortRequest& request) const {
    return request.Dword(m_kind == kPortAlpc ? Pixlink::kAlpcCapacityOffset : Pixlink::kLpcCapacityOffset);
}

bool CPixlinkPortServer::RequestBytes(const CPortRequest& request, std::vector<std::uint8_t>& bytes) {
    return m_kind == kPortAlpc ? AlpcRequestBytes(request, bytes) : LpcRequestBytes(request, bytes);
}

bool CPixlinkPortServer::LpcRequestBytes(const CPortRequest& request,
                                         std::vector<std::uint8_t>& bytes) const {
    const std::size_t end = Pixlink::kPortHeaderSize + request.DataLength();
    if (request.DataInfoOffset() == 0) {
        return end >= Pixlink::kLpcSmallDataOffset && Slice(request.Message(), Pixlink::kLpcSmallDataOffset,
                                                            end - Pixlink::kLpcSmallDataOffset, bytes);
    }
    if (request.DataEntrySize(0) > 0) {
        bytes = request.EntryData();
        return bytes.size() == request.DataEntrySize(0);
    }
    return end >= Pixlink::kLpcLargeDataOffset &&
           Slice(request.Message(), Pixlink::kLpcLargeDataOffset, end - Pixlink::kLpcLargeDataOffset, bytes);
}

bool CPixlinkPortServer::AlpcRequestBytes(const CPortRequest& request,
                                          std::vector<std::uint8_t>& bytes) const {
    const std::uint32_t length = request.Dword(Pixlink::kAlpcLengthOffset);
    if (!request.View().empty()) {
        return Slice(request.View(), 0, length, bytes);
    }
    return Slice(request.Message(), Pixlink::kAlpcDataOffset, length, bytes);
}

std::vector<std::uint8_t> CPixlinkPortServer::ReplyMessage(std::uint32_t result, std::uint32_t length,
                                                           const std::vector<std::uint8_t>& inlineBytes) {
    std::vector<std::uint8_t> data(8 + inlineBytes.size());
    PutDword(data, 0, result);
    PutDword(data, 4, length);
    if (!inlineBytes.empty()) {
        std::memcpy(&data[8], inlineBytes.data(), inlineBytes.size());
    }
    return CPortServer::Message(data);
}

bool CPixlinkPortServer::Reply(const CPortRequest& request, std::uint32_t result,
                               const std::vector<std::uint8_t>& bytes) {
    return m_kind == kPortAlpc ? AlpcReply(request, result, bytes) : LpcReply(request, result, bytes);
}

bool CPixlinkPortServer::LpcReply(const CPortRequest& request, std::uint32_t result,
                                  const std::vector<std::uint8_t>& bytes) {
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
    if (length <= Pixlink::kLpcReplyInlineMax) {
        return m_port.ReplyMessage(request, ReplyMessage(result, length, bytes));
    }
    // Too long to travel inline: written into the client's buffer, only the length travels. A
    // buffer too small for it is for the client to notice from the length.
    m_port.WriteRequestData(request, 1, bytes);
    return m_port.ReplyMessage(request, ReplyMessage(result, length, {}));
}

bool CPixlinkPortServer::AlpcReply(const CPortRequest& request, std::uint32_t result,
                                   const std::vector<std::uint8_t>& bytes) {
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
    if (length <= Pixlink::kAlpcInlineReplyMax) {
        return m_port.ReplyMessage(request, ReplyMessage(result, length, bytes));
    }
    return m_port.ReplyMessage(request, ReplyMessage(result, length, {}), &bytes,
                               Pixlink::kAlpcReplyViewFlag);
}

}  // namespace Platform
}  // namespace Zun
