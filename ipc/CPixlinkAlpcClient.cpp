#include "ipc/CPixlinkAlpcClient.h"

#include <mutex>

#include "ipc/CKernel32.h"
#include "ipc/CNtdll.h"
#include "ipc/CObjectName.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

using namespace Platform;

namespace {

constexpr SIZE_T kUnlimited = ~static_cast<SIZE_T>(0);

struct ConnectionMessage {
    PORT_MESSAGE header;
    std::uint32_t magicLow;
    std::uint32_t magicHigh;
    std::uint32_t version;
    std::uint32_t largestInlineReply;
};
static_assert(sizeof(ConnectionMessage) == kAlpcConnectMessageSize, "connection message layout");

ALPC_PORT_ATTRIBUTES PortAttributes() {
    ALPC_PORT_ATTRIBUTES attributes = {};
    attributes.Flags = kAlpcPortFlags;
    // The product learns who asks, but cannot act as the agent.
    attributes.SecurityQos = {sizeof(SECURITY_QUALITY_OF_SERVICE), SecurityIdentification, 1, 0};
    attributes.MaxMessageLength = kAlpcMessageSize;
    attributes.MemoryBandwidth = 0;
    attributes.MaxPoolUsage = kUnlimited;
    attributes.MaxSectionSize = kUnlimited;
    attributes.MaxViewSize = kUnlimited;
    attributes.MaxTotalSectionSize = kUnlimited;
    attributes.DupObjectTypes = 0;
    return attributes;
}

}  // namespace

CPixlinkAlpcClient::~CPixlinkAlpcClient() {
    Disconnect();
}

std::uint32_t CPixlinkAlpcClient::Init(std::uint32_t localId, std::uint32_t remoteId, std::uint32_t flags) {
    if ((flags & kInitFlagWorkerThread) != 0) {
        return kResultNotSupported;
    }
    Close();
    m_localId = localId;
    m_remoteId = remoteId;
    m_flags = flags;
    return kResultSuccess;
}

std::uint32_t CPixlinkAlpcClient::Close() {
    Disconnect();
    CloseBroadcast();
    return kResultSuccess;
}

void CPixlinkAlpcClient::SetServerAccount(const CServerAccount& account) {
    Disconnect();
    std::lock_guard<CCriticalSection> guard(m_portLock);
    m_serverAccount = account;
}

void CPixlinkAlpcClient::Disconnect() {
    std::lock_guard<CCriticalSection> guard(m_portLock);
    HANDLE port = m_port.exchange(nullptr);
    if (port != nullptr) {
        CNtdll::NtAlpcDisconnectPort(port, 0);
        CKernel32::CloseHandle(port);
    }
}

bool CPixlinkAlpcClient::Connect() {
    std::lock_guard<CCriticalSection> guard(m_portLock);
    if (m_port.load() != nullptr) {
        return true;
    }
    WCHAR name[CObjectName::kCapacity];
    CObjectName::Format(name, "\\BaseNamedObjects\\", m_localId, m_remoteId, "CommPortAlpc");
    UNICODE_STRING portName;
    CNtdll::RtlInitUnicodeString(&portName, name);
    ALPC_PORT_ATTRIBUTES attributes = PortAttributes();
    ConnectionMessage message = {};
    message.header.u1.s1.DataLength = static_cast<CSHORT>(sizeof(message) - kPortHeaderSize);
    message.header.u1.s1.TotalLength = static_cast<CSHORT>(sizeof(message));
    message.magicLow = kMagicLow;
    message.magicHigh = kMagicHigh;
    message.version = kProtocolVersion;
    message.largestInlineReply = kAlpcInlineReplyMax;
    ULONG bufferLength = sizeof(message);
    HANDLE port = nullptr;
    const NTSTATUS status = CNtdll::NtAlpcConnectPort(
        &port, &portName, nullptr, &attributes, kAlpcConnectFlags, m_serverAccount.Sid(), &message.header,
        &bufferLength, nullptr, nullptr, nullptr);
    m_connectStatus.store(status);
    if (!NT_SUCCESS(status)) {
        if (port != nullptr) {
            CKernel32::CloseHandle(port);
        }
        return false;
    }
    m_port.store(port);
    return true;
}

std::uint32_t CPixlinkAlpcClient::Exchange(std::uint32_t requestFlags, std::uint32_t messageType,
                                           const void* request, std::uint64_t requestLength,
                                           CAlpcExchange::ReplyTarget target, std::int64_t timeout) {
    if (m_port.load() == nullptr && !Connect()) {
        return kResultFailure;
    }
    if ((requestFlags & kRequestFlagOneWay) != 0) {
        target = {true, target.toBuffer, nullptr, 0, nullptr, nullptr};
    }
    // The message fields are 32-bit; nothing larger can be described to the product.
    if (requestLength > UINT32_MAX || (request == nullptr && requestLength > 0)) {
        return kResultFailure;
    }
    CAlpcExchange exchange(m_port.load());
    return exchange.Run(messageType, request, requestLength, target, timeout);
}

std::uint32_t CPixlinkAlpcClient::ExchangeWithRetry(std::uint32_t requestFlags, std::uint32_t messageType,
                                                    const void* request, std::uint64_t requestLength,
                                                    const CAlpcExchange::ReplyTarget& target,
                                                    std::int64_t timeout) {
    const std::uint32_t result = Exchange(requestFlags, messageType, request, requestLength, target, timeout);
    if (result != kResultFailure) {
        return result;
    }
    Disconnect();
    return Exchange(requestFlags, messageType, request, requestLength, target, timeout);
}

std::uint32_t CPixlinkAlpcClient::Request(std::uint32_t requestFlags, std::uint32_t messageType,
                                          const void* request, std::uint64_t requestLength, void* reply,
                                          std::uint64_t replyCapacity, std::uint64_t* replyLength,
                                          std::int64_t timeout) {
    const CAlpcExchange::ReplyTarget target = {false, false, reply, replyCapacity, replyLength, nullptr};
    return ExchangeWithRetry(requestFlags, messageType, request, requestLength, target, timeout);
}

std::uint32_t CPixlinkAlpcClient::RequestToBuffer(std::uint32_t requestFlags, std::uint32_t messageType,
                                                  const void* request, std::uint64_t requestLength,
                                                  CPixlinkGrowableBuffer* reply, std::int64_t timeout) {
    const CAlpcExchange::ReplyTarget target = {false, true, nullptr, 0, nullptr, reply};
    return ExchangeWithRetry(requestFlags, messageType, request, requestLength, target, timeout);
}

std::uint32_t CPixlinkAlpcClient::ReadBroadcast(std::int64_t offset, void* destination, std::uint64_t size) {
    return ReadBroadcastArea(m_localId, m_remoteId, offset, destination, size);
}

std::uint32_t CPixlinkAlpcClient::ReadBroadcastDword(std::int64_t offset, std::uint32_t* value) {
    return ReadBroadcastAreaDword(m_localId, m_remoteId, offset, value);
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
