#include "platform/CClientPort.h"

#include <unistd.h>

#include <cstring>

#include "platform/CSharedSection.h"
#include "platform/CViewRegistry.h"

namespace Zun {
namespace Platform {

namespace {

bool EntryRange(const std::vector<LpcDataEntry>& entries, std::uint32_t index, std::uint64_t offset,
                std::uint64_t size) {
    return index < entries.size() && offset <= entries[index].size && size <= entries[index].size - offset;
}

// The kernel only ever hands out messages whose lengths agree with their size.
bool IsWellFormed(const PORT_MESSAGE* message, std::size_t length) {
    const std::uint16_t dataLength = static_cast<std::uint16_t>(message->u1.s1.DataLength);
    const std::uint16_t totalLength = static_cast<std::uint16_t>(message->u1.s1.TotalLength);
    return length >= sizeof(PORT_MESSAGE) && totalLength == length &&
           dataLength + sizeof(PORT_MESSAGE) == length;
}

}  // namespace

CClientPort::CClientPort(CPortSocket socket, std::uint32_t kind)
    : m_socket(std::move(socket)), m_kind(kind) {}

NTSTATUS CClientPort::Connect(const std::string& path, std::uint32_t kind, const void* data, std::size_t size,
                              std::shared_ptr<CClientPort>& port) {
    CPortSocket socket;
    NTSTATUS status = CPortSocket::Connect(path, socket);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PortPacketHeader header = {kPacketConnect, 0, kind, 0, 0};
    if (!socket.Send(header, data, size)) {
        return STATUS_PORT_CONNECTION_REFUSED;
    }
    std::size_t received = 0;
    CUniqueFd fd;
    status = socket.Receive(header, nullptr, 0, received, fd,
                            CDeadline::In(std::chrono::milliseconds(kPortHandshakeMs)));
    if (status != STATUS_SUCCESS || header.kind != kPacketConnectReply) {
        return status == STATUS_TIMEOUT ? STATUS_IO_TIMEOUT : STATUS_PORT_CONNECTION_REFUSED;
    }
    const NTSTATUS answer = static_cast<NTSTATUS>(header.value1);
    if (!NT_SUCCESS(answer)) {
        return answer;
    }
    port.reset(new CClientPort(std::move(socket), kind));
    return STATUS_SUCCESS;
}

NTSTATUS CClientPort::Exchange(PortExchange& exchange) {
    std::lock_guard<std::mutex> guard(m_exchangeLock);
    const std::uint32_t messageId = ++m_lastMessageId;
    const NTSTATUS sent = Send(exchange, messageId);
    if (!NT_SUCCESS(sent) || exchange.reply == nullptr) {
        return sent;
    }
    return AwaitReply(exchange, messageId);
}

NTSTATUS CClientPort::Send(const PortExchange& exchange, std::uint32_t messageId) {
    const std::size_t length = static_cast<std::uint16_t>(exchange.message->u1.s1.TotalLength);
    std::vector<std::uint8_t> copy(reinterpret_cast<const std::uint8_t*>(exchange.message),
                                   reinterpret_cast<const std::uint8_t*>(exchange.message) + length);
    // Addresses of this process mean nothing to the server: it reaches the entries through us.
    const std::uint16_t infoOffset = static_cast<std::uint16_t>(exchange.message->u2.s2.DataInfoOffset);
    for (std::size_t i = 0; i < exchange.entries.size(); ++i) {
        std::memset(&copy[infoOffset + 8 + 16 * i], 0, 8);
    }
    PortPacketHeader header = {exchange.reply != nullptr ? kPacketRequest : kPacketDatagram, messageId,
                               exchange.viewFlags, static_cast<std::uint32_t>(exchange.viewSize), 0};
    header.offset = exchange.viewSize;
    return m_socket.Send(header, copy.data(), copy.size(), exchange.viewFd) ? STATUS_SUCCESS
                                                                            : STATUS_PORT_DISCONNECTED;
}

NTSTATUS CClientPort::AwaitReply(PortExchange& exchange, std::uint32_t messageId) {
    // Requests with data entries may be answered by writes larger than the reply message itself.
    const bool scratch = !exchange.entries.empty();
    if (scratch && !m_scratch) {
        m_scratch.reset(new std::uint8_t[kPortMaxPayload]);
    }
    void* buffer = scratch ? static_cast<void*>(m_scratch.get()) : static_cast<void*>(exchange.reply);
    const std::size_t capacity = scratch ? kPortMaxPayload : exchange.replyCapacity;
    for (;;) {
        PortPacketHeader header;
        std::size_t length = 0;
        CUniqueFd fd;
        const NTSTATUS status = m_socket.Receive(header, buffer, capacity, length, fd, exchange.deadline);
        if (status != STATUS_SUCCESS) {
            return status;
        }
        if (header.messageId != messageId || length > capacity) {
            if (header.messageId == messageId) {
                return STATUS_PORT_MESSAGE_TOO_LONG;
            }
            continue;  // the late reply of a request that timed out
        }
        if (header.kind == kPacketWriteReply) {
            // Only a request with data entries can be answered so, and the write lies within the packet.
            if (!scratch || fd.IsOpen() || header.value2 > length) {
                return STATUS_UNSUCCESSFUL;
            }
            ServeWrite(header, header.value2, exchange.entries);
            length -= header.value2;
            std::memmove(buffer, m_scratch.get() + header.value2, length);
            header.kind = kPacketReply;
            header.value1 = 0;
        }
        if (header.kind == kPacketReply) {
            exchange.replyViewFlags = header.value1;
            if (scratch && length <= exchange.replyCapacity) {
                std::memcpy(exchange.reply, buffer, length);
            }
            return scratch && length > exchange.replyCapacity
                       ? STATUS_PORT_MESSAGE_TOO_LONG
                       : DeliverReply(exchange, messageId, length, std::move(fd));
        }
        if (header.kind == kPacketReadData) {
            ServeRead(header, exchange.entries);
        } else if (header.kind == kPacketWriteData) {
            ServeWrite(header, length, exchange.entries);
        }
    }
}

void CClientPort::ServeRead(const PortPacketHeader& header, const std::vector<LpcDataEntry>& entries) {
    PortPacketHeader answer = {kPacketDataReply, header.messageId, 0, 0, header.offset};
    if (header.value2 > kPortMaxPayload ||
        !EntryRange(entries, header.value1, header.offset, header.value2)) {
        answer.value1 = static_cast<std::uint32_t>(STATUS_INVALID_PARAMETER);
        m_socket.Send(answer, nullptr, 0);
        return;
    }
    m_socket.Send(answer, entries[header.value1].address + header.offset, header.value2);
}

void CClientPort::ServeWrite(const PortPacketHeader& header, std::size_t length,
                             const std::vector<LpcDataEntry>& entries) {
    if (EntryRange(entries, header.value1, header.offset, length)) {
        std::memcpy(entries[header.value1].address + header.offset, m_scratch.get(), length);
    }
}

NTSTATUS CClientPort::DeliverReply(PortExchange& exchange, std::uint32_t messageId, std::size_t length,
                                   CUniqueFd fd) {
    if (!IsWellFormed(exchange.reply, length)) {
        return STATUS_UNSUCCESSFUL;
    }
    exchange.replyLength = length;
    exchange.reply->u2.s2.Type = LPC_REPLY;
    exchange.reply->MessageId = messageId;
    std::memset(&exchange.reply->ClientId, 0, sizeof(exchange.reply->ClientId));
    if (!fd.IsOpen()) {
        return STATUS_SUCCESS;
    }
    std::size_t size = 0;
    void* view = m_kind == kPortAlpc ? CSharedSection::Map(fd.Get(), size, false) : nullptr;
    if (view != nullptr) {
        CViewRegistry::Add(view, size);
        exchange.replyView = view;
        exchange.replyViewSize = size;
        exchange.reply->u2.s2.Type |= LPC_CONTINUATION_REQUIRED;
    }
    return STATUS_SUCCESS;
}

}  // namespace Platform
}  // namespace Zun
