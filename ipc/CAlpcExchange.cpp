#include "ipc/CAlpcExchange.h"

#include <cstring>

#include "ipc/CNtdll.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

using namespace Platform;

namespace {

std::uint32_t DwordAt(const std::uint8_t* bytes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

void PutDword(std::uint8_t* bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes + offset, &value, sizeof(value));
}

std::size_t DataLength(const std::uint8_t* message) {
    return static_cast<std::uint16_t>(reinterpret_cast<const PORT_MESSAGE*>(message)->u1.s1.DataLength);
}

}  // namespace

CAlpcExchange::~CAlpcExchange() {
    if (m_sendView != nullptr) {
        CNtdll::NtAlpcDeleteSectionView(m_port, 0, m_sendView);
    }
    if (m_section != nullptr) {
        CNtdll::NtAlpcDeletePortSection(m_port, 0, m_section);
    }
}

std::uint32_t CAlpcExchange::Run(std::uint32_t messageType, const void* request, std::uint64_t requestLength,
                                 const ReplyTarget& target, std::int64_t timeout) {
    if (!target.oneWay && !AllocateAttributes(m_receiveAttributes)) {
        return kResultFailure;
    }
    if (!BuildRequest(messageType, request, requestLength, target)) {
        return kResultFailure;
    }
    const NTSTATUS status = SendWaitReceive(!target.oneWay, timeout);
    if (status < 0) {
        return kResultFailure;
    }
    if (status > 0) {
        return status == STATUS_TIMEOUT ? kResultTimeout : kResultSuccess;
    }
    if (!m_sendAttributes.empty()) {
        Attributes(m_sendAttributes)->ValidAttributes &= ~ALPC_MESSAGE_VIEW_ATTRIBUTE;
    }
    if (target.oneWay) {
        return kResultSuccess;
    }
    const std::uint32_t result = ReadReply(target);
    Release();
    return result;
}

bool CAlpcExchange::AllocateAttributes(std::vector<std::uint8_t>& buffer) {
    SIZE_T required = 0;
    if (CNtdll::AlpcInitializeMessageAttribute(ALPC_MESSAGE_VIEW_ATTRIBUTE, nullptr, 0, &required) !=
            STATUS_BUFFER_TOO_SMALL ||
        required < sizeof(ALPC_MESSAGE_ATTRIBUTES)) {
        return false;
    }
    buffer.assign(required, 0);
    return CNtdll::AlpcInitializeMessageAttribute(ALPC_MESSAGE_VIEW_ATTRIBUTE, Attributes(buffer), required,
                                                  &required) == STATUS_SUCCESS;
}

ALPC_MESSAGE_ATTRIBUTES* CAlpcExchange::Attributes(std::vector<std::uint8_t>& buffer) {
    return reinterpret_cast<ALPC_MESSAGE_ATTRIBUTES*>(buffer.data());
}

bool CAlpcExchange::BuildRequest(std::uint32_t messageType, const void* request, std::uint64_t requestLength,
                                 const ReplyTarget& target) {
    const bool inlined = requestLength <= kAlpcInlineRequestMax;
    const std::size_t inlineLength = inlined ? static_cast<std::size_t>(requestLength) : 0;
    const bool capacityCounts = !target.oneWay && !target.toBuffer;
    std::memset(m_request, 0, kAlpcDataOffset);
    PORT_MESSAGE* header = reinterpret_cast<PORT_MESSAGE*>(m_request);
    header->u1.s1.DataLength = static_cast<CSHORT>(kAlpcRequestHeaderSize + inlineLength);
    header->u1.s1.TotalLength = static_cast<CSHORT>(kAlpcRequestHeaderSize + inlineLength + kPortHeaderSize);
    PutDword(m_request, kAlpcTypeOffset, messageType);
    PutDword(m_request, kAlpcToBufferOffset, target.toBuffer ? 1 : 0);
    PutDword(m_request, kAlpcLengthOffset, static_cast<std::uint32_t>(requestLength));
    PutDword(m_request, kAlpcCapacityOffset,
             capacityCounts ? static_cast<std::uint32_t>(target.capacity) : 0);
    if (!inlined) {
        return AttachSection(request, requestLength);
    }
    if (inlineLength > 0) {
        std::memcpy(m_request + kAlpcDataOffset, request, inlineLength);
    }
    return true;
}

bool CAlpcExchange::AttachSection(const void* request, std::uint64_t requestLength) {
    SIZE_T actual = 0;
    if (CNtdll::NtAlpcCreatePortSection(m_port, kAlpcSectionFlags, nullptr, requestLength, &m_section,
                                        &actual) < 0) {
        m_section = nullptr;
        return false;
    }
    ALPC_DATA_VIEW_ATTR view = {0, m_section, nullptr, requestLength};
    if (CNtdll::NtAlpcCreateSectionView(m_port, 0, &view) < 0 || view.ViewBase == nullptr ||
        view.ViewSize < requestLength) {
        return false;
    }
    m_sendView = view.ViewBase;
    std::memcpy(m_sendView, request, static_cast<std::size_t>(requestLength));
    if (!AllocateAttributes(m_sendAttributes)) {
        return false;
    }
    ALPC_MESSAGE_ATTRIBUTES* attributes = Attributes(m_sendAttributes);
    void* sent = CNtdll::AlpcGetMessageAttribute(attributes, ALPC_MESSAGE_VIEW_ATTRIBUTE);
    if (sent == nullptr) {
        return false;
    }
    const ALPC_DATA_VIEW_ATTR attribute = {kAlpcSendViewFlags, m_section, m_sendView, requestLength};
    std::memcpy(sent, &attribute, sizeof(attribute));
    attributes->ValidAttributes |= ALPC_MESSAGE_VIEW_ATTRIBUTE;
    return true;
}

NTSTATUS CAlpcExchange::SendWaitReceive(bool wantReply, std::int64_t timeout) {
    SIZE_T bufferLength = kAlpcMessageSize;
    LARGE_INTEGER interval;
    interval.QuadPart = timeout;
    std::memset(m_reply, 0, kPortHeaderSize);
    return CNtdll::NtAlpcSendWaitReceivePort(
        m_port, wantReply ? ALPC_MSGFLG_SYNC_REQUEST : ALPC_MSGFLG_RELEASE_MESSAGE,
        reinterpret_cast<PORT_MESSAGE*>(m_request),
        m_sendAttributes.empty() ? nullptr : Attributes(m_sendAttributes),
        wantReply ? reinterpret_cast<PORT_MESSAGE*>(m_reply) : nullptr, wantReply ? &bufferLength : nullptr,
        wantReply ? Attributes(m_receiveAttributes) : nullptr, timeout != 0 ? &interval : nullptr);
}

ALPC_DATA_VIEW_ATTR* CAlpcExchange::ReceivedView() {
    if (m_receiveAttributes.empty()) {
        return nullptr;
    }
    ALPC_MESSAGE_ATTRIBUTES* attributes = Attributes(m_receiveAttributes);
    if ((attributes->ValidAttributes & ALPC_MESSAGE_VIEW_ATTRIBUTE) == 0) {
        return nullptr;
    }
    return static_cast<ALPC_DATA_VIEW_ATTR*>(
        CNtdll::AlpcGetMessageAttribute(attributes, ALPC_MESSAGE_VIEW_ATTRIBUTE));
}

std::uint32_t CAlpcExchange::ReadReply(const ReplyTarget& target) {
    ALPC_DATA_VIEW_ATTR* view = ReceivedView();
    if (view != nullptr) {
        view->Flags |= ALPC_VIEWFLG_UNMAP_EXISTING;  // so that releasing the message unmaps it
    }
    if (DataLength(m_reply) < 8) {
        return kResultFailure;
    }
    const std::uint32_t result = DwordAt(m_reply, kAlpcReplyResultOffset);
    if (result != kResultSuccess) {
        return result;
    }
    const std::uint32_t length = DwordAt(m_reply, kAlpcReplyLengthOffset);
    const std::uint8_t* bytes = ReplyBytes(length);
    if (bytes == nullptr) {
        return kResultFailure;
    }
    if (target.buffer != nullptr && length <= target.capacity) {
        std::memcpy(target.buffer, bytes, length);
        if (target.length != nullptr) {
            *target.length = length;
        }
        return kResultSuccess;
    }
    if (target.growable != nullptr) {
        target.growable->Clear();
        return target.growable->Append(bytes, length) ? kResultSuccess : kResultFailure;
    }
    return length != 0 ? kResultBufferTooSmall : kResultSuccess;
}

const std::uint8_t* CAlpcExchange::ReplyBytes(std::uint32_t length) {
    if (length <= kAlpcInlineReplyMax) {
        // Bytes the message does not hold would be whatever the buffer held before.
        return DataLength(m_reply) >= 8 + static_cast<std::size_t>(length) ? m_reply + kAlpcReplyDataOffset
                                                                           : nullptr;
    }
    const ALPC_DATA_VIEW_ATTR* view = ReceivedView();
    if (view == nullptr || (view->Flags & kAlpcReplyViewFlag) == 0 || view->ViewBase == nullptr ||
        view->ViewSize < length) {
        return nullptr;
    }
    return static_cast<const std::uint8_t*>(view->ViewBase);
}

void CAlpcExchange::Release() {
    const PORT_MESSAGE* received = reinterpret_cast<const PORT_MESSAGE*>(m_reply);
    if ((received->u2.s2.Type & LPC_CONTINUATION_REQUIRED) != 0) {
        CNtdll::NtAlpcSendWaitReceivePort(
            m_port, ALPC_MSGFLG_RELEASE_MESSAGE, reinterpret_cast<PORT_MESSAGE*>(m_reply),
            Attributes(m_receiveAttributes), nullptr, nullptr, nullptr, nullptr);
    }
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
